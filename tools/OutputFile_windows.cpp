#include <windows.h>

#include "tools/OutputFile.h"

namespace qz::tools {

namespace {

// Paths are UTF-8 inside qzbios-dump (its arguments are read as UTF-16 and converted), so that any
// name Windows can hold reaches the file system unchanged.
std::wstring Wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

std::string ErrorText(DWORD code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message;
}

wchar_t g_temporary[MAX_PATH + 1] = {};

BOOL WINAPI RemoveTemporary(DWORD /*event*/) {
    DeleteFileW(g_temporary);
    return FALSE;  // the run ends as it would have
}

// A collector reading the file holds it open without sharing deletion for a moment: the rename is
// tried again for up to five seconds.
bool MoveIntoPlace(const wchar_t* temporary, const wchar_t* target, DWORD& error) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
            0) {
            return true;
        }
        error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 50) {
            return false;
        }
        Sleep(100);
    }
}

}  // namespace

// qzbios-dump reads no capture on Windows, so no output can be one.
bool SameFile(const std::string& /*a*/, const std::string& /*b*/) { return false; }

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
    const std::wstring target = Wide(path);
    const std::size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash);
    // GetTempFileNameW makes qzbXXXX.tmp in the folder; it is removed on failure, and on a console
    // interrupt while it exists.
    if (GetTempFileNameW(folder.c_str(), L"qzb", 0, g_temporary) == 0) {
        error = "cannot make a temporary file in the folder '" + Narrow(folder) +
                "': " + ErrorText(GetLastError());
        return false;
    }
    SetConsoleCtrlHandler(RemoveTemporary, TRUE);
    const HANDLE file = CreateFileW(g_temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
        written == text.size() && FlushFileBuffers(file) != 0;
    DWORD code = ok ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    ok = ok && MoveIntoPlace(g_temporary, target.c_str(), code);
    if (!ok) {
        error = ErrorText(code);
        DeleteFileW(g_temporary);
    }
    SetConsoleCtrlHandler(RemoveTemporary, FALSE);
    return ok;
}

}  // namespace qz::tools
