// The simulator program's side of the replay deck's socket.
#pragma once
#include <atomic>
#include <string>

#include "platform/deck_model.h"

namespace tv::platform {

// Serves the model on a SOCK_SEQPACKET socket at `path` until `stop` is set. Once `silent` is set
// the deck plays no more and answers nothing, its connections left open: a deck that hung. False
// when the socket cannot be made.
bool serve_deck(DeckModel& model, const std::string& path, const std::atomic<bool>& stop, std::string& error,
                const std::atomic<bool>* silent = nullptr);

}  // namespace tv::platform
