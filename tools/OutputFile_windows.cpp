// rand_s, the CRT's random numbers from the system's generator, is declared on request.
#define _CRT_RAND_S
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// What stands at `target` when it is not a file qzbios-dump replaces: a folder, or a reparse point
// (a symbolic link, a junction, a mount point), which is never followed; empty otherwise.
std::string Refused(const std::wstring& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::string();
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return "a reparse point (a link, junction or mount point)";
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "a folder" : std::string();
}

// A new file of a random name in `folder`, made for this run alone (CREATE_NEW): nothing that
// stood there is opened. Its name is left in g_temporary.
HANDLE CreateTemporary(const std::wstring& folder) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned random[2] = {};
        if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) {
            break;
        }
        if (_snwprintf(g_temporary, MAX_PATH, L"%ls\\.qzbios-%08x%08x.tmp", folder.c_str(),
                       random[0], random[1]) < 0) {
            break;
        }
        const HANDLE file = CreateFileW(g_temporary, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    g_temporary[0] = L'\0';
    return INVALID_HANDLE_VALUE;
}

// Renames the open temporary file over `target`, by its handle. A collector reading the file holds
// it open without sharing deletion for a moment: the rename is tried again for up to five seconds.
bool MoveIntoPlace(HANDLE file, const std::wstring& target, DWORD& error) {
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
    for (int attempt = 0;; ++attempt) {
        if (SetFileInformationByHandle(file, FileRenameInfo, rename,
                                       static_cast<DWORD>(buffer.size())) != 0) {
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
    if (const std::string standing = Refused(target); !standing.empty()) {
        error = standing +
                " stands at that name: qzbios-dump replaces only a regular file, and "
                "follows no link (remove it, or name the file itself)";
        return false;
    }
    // The temporary file is removed on failure, and on a console interrupt while it exists.
    SetConsoleCtrlHandler(RemoveTemporary, TRUE);
    const HANDLE file = CreateTemporary(folder);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot make a temporary file in the folder '" + Narrow(folder) +
                "': " + ErrorText(GetLastError());
        SetConsoleCtrlHandler(RemoveTemporary, FALSE);
        return false;
    }
    DWORD written = 0;
    bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
        written == text.size() && FlushFileBuffers(file) != 0;
    DWORD code = ok ? 0 : GetLastError();
    ok = ok && MoveIntoPlace(file, target, code);
    CloseHandle(file);
    if (!ok) {
        error = ErrorText(code);
        DeleteFileW(g_temporary);
    }
    SetConsoleCtrlHandler(RemoveTemporary, FALSE);
    return ok;
}

}  // namespace qz::tools
