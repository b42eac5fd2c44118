#include "tolbex/browser/archive_documents.h"

#include <algorithm>

#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/browser/browser_list_core.h"

namespace tv {

namespace {

int g_transfer_depth = 0;

std::vector<BrowserListCore*>& registry() {
    static std::vector<BrowserListCore*> docs;
    return docs;
}

}  // namespace

std::vector<BrowserListCore*> open_archive_documents() { return registry(); }

void reload_archive_documents() {
    // A reload may run callbacks that open or close documents: work on a copy, skip the gone.
    const std::vector<BrowserListCore*> docs = registry();
    for (BrowserListCore* d : docs) {
        const auto& now = registry();
        if (std::find(now.begin(), now.end(), d) == now.end()) continue;
        if (d->has_group()) d->reload();
    }
}

void register_archive_document(BrowserListCore* document) { registry().push_back(document); }

void unregister_archive_document(BrowserListCore* document) {
    auto& docs = registry();
    docs.erase(std::remove(docs.begin(), docs.end(), document), docs.end());
}

bool is_same_folder(const std::string& a, const std::string& b) {
    if (platform::iequals(a, b)) return true;
    return is_same_entry(a, b);
}

bool is_transfer_in_progress() { return g_transfer_depth > 0; }
TransferGuard::TransferGuard() { ++g_transfer_depth; }
TransferGuard::~TransferGuard() { --g_transfer_depth; }

}  // namespace tv
