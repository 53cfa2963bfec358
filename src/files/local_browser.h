#pragma once

#include "core/observable.h"
#include "files/fs_entry.h"
#include "files/name_collator.h"

#include <string>
#include <vector>

namespace tavoro::files {

// The model of the pane that shows this computer's disk: one directory's visible items (names starting
// with "." left out), directories first, each group by name in the locale's case-insensitive order.
// Lists synchronously on every navigation.
//
// Threads: main thread only, construction included (the fields are written and announced there).
class LocalBrowser {
public:
    // Starts at `home` (the user's home directory) and lists it at once.
    explicit LocalBrowser(const std::string& home);
    LocalBrowser(const LocalBrowser&) = delete;
    LocalBrowser& operator=(const LocalBrowser&) = delete;

    core::Observable<std::string> path;
    core::Observable<std::vector<FsEntry>> entries;

    // Lists `path` again; a directory that cannot be read lists as empty.
    void reload();
    // Goes into a directory of the current one; nothing for a file.
    void open(const FsEntry& entry);
    // Goes to the parent directory; "/" stays "/".
    void up();

private:
    NameCollator collator_;
};

// The directory above an absolute local path; "/" for "/" and for the items right under it.
std::string localParent(const std::string& path);

} // namespace tavoro::files
