#include "tolbex/mail/mail_options.h"
#include "common/text.h"

#include <algorithm>
#include <cstdlib>

namespace tv {

namespace {

// The significant lines with their escapes resolved.
std::vector<std::string> significant_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string_view line : split_lines(text)) {
        if (std::all_of(line.begin(), line.end(), is_space_char)) continue;
        if (line[0] == '/') continue;
        std::string out;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                out += line[i] == 'n' ? '\n' : line[i];
            } else {
                out += line[i];
            }
        }
        lines.push_back(std::move(out));
    }
    return lines;
}

std::string none_is_empty(const std::string& text) { return text == "<NONE>" ? std::string() : text; }

}  // namespace

std::optional<MailOptions> parse_mail_options(const std::string& text) {
    const std::vector<std::string> lines = significant_lines(text);
    if (lines.empty()) return std::nullopt;
    MailOptions options;
    options.title = lines[0];
    int rows[kMailOptionColumns] = {};
    std::size_t i = 1;
    while (i < lines.size()) {
        MailOptionGroup group;
        if (lines[i] == "@RADIOBUTTONS")
            group.radio = true;
        else if (lines[i] != "@CHECKBOXES")
            return std::nullopt;
        if (i + 5 > lines.size()) return std::nullopt;
        group.caption = lines[i + 1];
        group.lead_in = none_is_empty(lines[i + 2]);
        group.alternative = none_is_empty(lines[i + 3]);
        group.column = std::clamp(static_cast<int>(parse_integer(lines[i + 4]).value) - 1, 0, kMailOptionColumns - 1);
        i += 5;
        while (true) {
            if (i >= lines.size()) return std::nullopt;
            if (lines[i] == "@END") {
                ++i;
                break;
            }
            if (i + 3 > lines.size()) return std::nullopt;
            group.checked.push_back(lines[i] == "1");
            group.labels.push_back(lines[i + 1]);
            group.texts.push_back(none_is_empty(lines[i + 2]));
            i += 3;
        }
        group.row = rows[group.column]++;
        options.groups.push_back(std::move(group));
    }
    return options;
}

std::string compose_mail_options_text(const MailOptions& options) {
    std::string out;
    for (const MailOptionGroup& g : options.groups) {
        std::string chosen;
        for (std::size_t k = 0; k < g.texts.size(); ++k)
            if (g.checked[k] && !g.texts[k].empty()) chosen += g.texts[k];
        if (!chosen.empty()) {
            out += g.lead_in + chosen + "\n";
        } else if (!g.alternative.empty()) {
            out += g.alternative + "\n";
        }
    }
    return out;
}

}  // namespace tv
