// What all archive-group documents of this process share. The documents are process-wide
// because one change reaches every window: a copy or move into another group must reload that
// group's windows too, and the refresh timers of all windows must keep still while any of them
// moves reports (they would take the half-done transfer for a foreign change).
#pragma once
#include <string>
#include <vector>

namespace tv {

class BrowserListCore;

// Every archive-group document alive, in the order they were made.
std::vector<BrowserListCore*> open_archive_documents();
// Reloads every open archive-group document from its index files.
void reload_archive_documents();
// Called by each document as it is made and destroyed.
void register_archive_document(BrowserListCore* document);
void unregister_archive_document(BrowserListCore* document);

// True when both paths name one folder: the same text without regard to case, or the same
// file system object.
bool is_same_folder(const std::string& a, const std::string& b);

// The browser's move, copy and delete run with this flag set; the refresh timer then does nothing.
bool is_transfer_in_progress();
class TransferGuard {
public:
    TransferGuard();
    ~TransferGuard();
    TransferGuard(const TransferGuard&) = delete;
    TransferGuard& operator=(const TransferGuard&) = delete;
};

}  // namespace tv
