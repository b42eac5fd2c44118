// The demo's recorder media, so that the Recording menu's card and disk commands have something
// to read: a recorder card (the card files the card program reads, a 30-minute three-channel
// recording) and a recorder disk, each in a folder of its own named in the drive map as the card
// reader and the disk drive would present them.
#pragma once
#include <string>
#include <vector>

namespace tv::demo {

inline constexpr char kDemoCardDrive = 'K';  // label "QUX_CFR"
inline constexpr char kDemoDiskDrive = 'L';  // label "QUX_FCG"

struct DemoMedia {
    std::string card_folder, disk_folder;
};

// Writes both under <UserRoot>/MEDIA and maps them, the card at `recording` (from 65,000 on the
// card program empties the card for its next recording once it has read it). The card program and
// the compressor are registered when tolbex would not find them and one lies beside this program
// or in its build tree. False with `error`.
inline constexpr unsigned kDemoCardRecording = 5;
bool make_demo_media(DemoMedia* media, std::string* error, unsigned recording = kDemoCardRecording);
// Registers the card program and the compressor (beside tvdemo, or in the build tree) unless the
// registry names existing ones; the names of those found nowhere.
std::vector<std::string> register_demo_programs();

}  // namespace tv::demo
