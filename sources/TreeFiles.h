// Files of a firmware-attributes tree, read within the tree's limits: folders listed and opened
// relative to each other, regular files only, never through a link, never waiting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qz::shared::sources {

// Keeps the names in the folder `root` that are firmware-attributes devices: those with an
// attributes/ folder (TreeBudget::OpenDevice says which entries count).
void KeepDevices(int root, std::vector<std::string>& names);

// One read of a tree within its limits (FirmwareAttributes.h): what is left of them, and the first
// limit met.
class TreeBudget {
public:
    // The names in the folder `dir`, sorted, within what is left of the entries; false when there
    // are more.
    bool List(int dir, std::vector<std::string>& names);

    // Counts one attribute more; false when there are too many.
    bool CountAttribute();

    // Folders of the tree, each opened within what is left of the opens; -1 when it is no folder,
    // or there are no opens left. The tree's folder as named; a device in it, a folder or a link
    // to one that root or this user made (the kernel's class folder links its devices), opened to
    // be listed; and a folder in `dir`, never through a link, opened to be listed or only to look
    // names up in it (it need not be readable then).
    int OpenRoot(const std::string& path);
    int OpenDevice(int root, const std::string& name);
    int OpenFolder(int dir, const char* name, bool listed);

    // A regular file of `dir`, without one trailing newline, read within what is left of the opens
    // and the bytes: one byte more than is left shows that the tree is too large. nullopt with
    // errno set when it is missing (ENOENT), unreadable, a symbolic link (ELOOP), a directory
    // (EISDIR) or another file that is not regular (EINVAL).
    std::optional<std::string> Read(int dir, const char* name);

    const std::string& Refusal() const { return m_refusal; }
    bool Within() const { return m_refusal.empty(); }
    std::size_t FirmwareReads() const { return m_firmwareReads; }

private:
    bool Refuse(std::string reason);
    bool Opened();

    std::size_t m_entries = 0;
    std::size_t m_attributes = 0;
    std::size_t m_opens = 0;
    std::size_t m_bytes = 0;
    std::size_t m_firmwareReads = 0;
    std::string m_refusal;
};

}  // namespace qz::shared::sources
