// A process-wide locale whose decimal point is a comma, as a windowed start under such a user
// gets it from the toolkit, for one test; the previous locale comes back afterwards.
// Tests skip (GTEST_SKIP with DecimalCommaLocale::kMissing) when the machine has none of them
// (scripts/install-deps makes de_DE.UTF-8).
#pragma once
#include <clocale>
#include <cstring>
#include <string>

namespace tv::testing_root {

class DecimalCommaLocale {
public:
    static constexpr const char* kMissing =
        "no locale with a decimal comma on this machine (localedef -i de_DE -f UTF-8 de_DE.UTF-8)";

    DecimalCommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8", "de_DE"}) {
            if (!std::setlocale(LC_ALL, name)) continue;
            if (std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, saved_.c_str());
    }
    ~DecimalCommaLocale() {
        if (active_) std::setlocale(LC_ALL, saved_.c_str());
    }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

}  // namespace tv::testing_root
