#include "tolbex/tape/tape_intake.h"

#include <cerrno>
#include <ctime>
#include <memory>

#include "common/bytes.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/runner.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/window_messages.h"
#include "tolbex/intake/cef_settings.h"
#include "tolbex/tape/ecg_mappings.h"

namespace tv {

namespace {

constexpr std::size_t kChunkSamples = 262144 / 2;

void show(CefProgress* progress, const std::string& text) {
    if (progress) progress->set_text(text);
}

// The files of the work folder are new each run: nothing there, not even a link, is written
// through.
bool write_text_file(const std::string& path, const std::string& bytes) {
    platform::UniqueFd file = create_new_file(path);
    if (!file) return false;
    if (!platform::write_all(file.get(), bytes.data(), bytes.size())) return false;
    return file.close();
}

// One channel of the mapping, bit-reduced on its way out, into a new channel file.
bool write_channel_file(const std::uint16_t* samples, std::size_t count, int level, const std::string& path) {
    platform::UniqueFd file = create_new_file(path);
    if (!file) return false;
    std::vector<std::uint16_t> chunk(kChunkSamples);
    std::vector<std::uint8_t> bytes(kChunkSamples * 2);
    bool ok = true;
    for (std::size_t at = 0; ok && at < count; at += kChunkSamples) {
        const std::size_t n = std::min(kChunkSamples, count - at);
        chunk.assign(samples + at, samples + at + n);
        cef_reduce_samples(chunk.data(), n, level);
        for (std::size_t i = 0; i < n; ++i) store_le16(&bytes[2 * i], chunk[i]);
        ok = platform::write_all(file.get(), bytes.data(), 2 * n);
        pump_messages();
    }
    return ok && file.close();
}

}  // namespace

std::int32_t cef_start_sample(const TapeDataBlock& tape) {
    if (tape.start_time_code == -1) return 0;
    const std::int32_t t = tape.start_time_code;
    const std::int64_t hours = ((t >> 12) & 0xF) * 10 + ((t >> 8) & 0xF);
    const std::int64_t minutes = ((t >> 4) & 0xF) * 10 + (t & 0xF);
    std::int64_t start = (hours * 60 + minutes - tape.start_offset / kSamplesPerMinute) * kSamplesPerMinute;
    if (start < 0) start += ((-start + kSamplesPerDay - 1) / kSamplesPerDay) * kSamplesPerDay;
    return static_cast<std::int32_t>(start);
}

bool write_patient_events(const TapeMappings& mappings, const std::string& path) {
    const int count = mappings.event_count();
    if (count == 0) return true;
    std::string text;
    for (int i = 0; i < count; ++i) text += format_string("%d\r\n", mappings.events()->positions[i] / 128);
    return write_text_file(path, text);
}

bool write_tape_cef(const TapeMappings& mappings, const TapeOptions& options, const PatientDetails& details,
                    const std::string& work_folder, const std::string& output_path, CefProgress* progress) {
    show(progress, {});
    const int type = clamp_tape_type_index(options.type_index);
    const int channels = tape_channel_count(type);
    const int level = details.level < 0 || details.level > kCefMaxBitReduction ? 4 : details.level;
    const std::int32_t samples = mappings.sample_count();
    const TapeDataBlock& tape = *mappings.tape_data();

    for (int c = 0; c < channels; ++c) {
        show(progress, format_string("Writing ECG from channel %d to a temporary file.", c + 1));
        if (!write_channel_file(mappings.channel(c), static_cast<std::size_t>(samples), level,
                                join_path(work_folder, cef_channel_file_name(false, c)))) {
            const bool full = errno == ENOSPC || get_disk_free_bytes(work_folder) == 0;
            show_error(full ? kEcgDiskFullText : kEcgWriteFailedText);
            return false;
        }
    }
    show(progress, "Writing Patient Details");
    if (!write_cef_patient_text(work_folder, details)) {
        show_error(kPatientDetailsWriteText);
        return false;
    }
    show(progress, "Saving Patient Events");
    if (!write_patient_events(mappings, join_path(work_folder, "PATEVENT.DAT"))) {
        show_error(kPatientEventsWriteText);
        return false;
    }

    CefHeader header;
    header.kind = type;
    header.channel_count = channels;
    header.start_sample = cef_start_sample(tape);
    header.creation_time = cef_time_word(std::time(nullptr));
    set_cef_description(header, clean_patient_text(details.description, kCefDescriptionSize - 1));
    std::vector<CefChannelTrailer> trailers;
    for (int c = 0; c < channels; ++c) trailers.push_back({tape.scale, tape.channel_words[c], level, 0});
    const auto written =
        assemble_cef(progress, header, trailers, output_path, work_folder, {}, false, [](const std::string& question) {
            return ui().message_box(question, {}, MsgIcon::Error, MsgButtons::RetryCancel) == MsgResult::Retry;
        });
    if (!written) {
        show_error(written.error().message);
        force_delete_file(output_path);
        return false;
    }
    return true;
}

TapeIntakeResult create_cef_from_tape(int destination, const TapeIntakeSteps& steps) {
    const bool for_mail = destination == kTapeToMail;
    const bool running = steps.analysis_system_running
                             ? steps.analysis_system_running()
                             : static_cast<bool>(platform::find_window("", kAnalysisMainWindowTitle));
    if (running) {
        show_error(kAnalysisRunningCefText);
        return TapeIntakeResult::stopped;
    }
    TapeOptions options;
    if (!steps.choose_options || !steps.choose_options(options, for_mail)) return TapeIntakeResult::stopped;

    // Declared first so that it goes last: the folder outlives nothing that writes into it.
    const TempFolder intake;
    const std::string& intake_folder = intake.path();
    if (intake_folder.empty()) {
        show_error(format_string(kTempFolderFailedText, get_temp_folder().c_str()));
        return TapeIntakeResult::failed;
    }
    TapeMappings mappings;
    if (mappings.busy()) {
        show_error(kDeckBusyText);
        return TapeIntakeResult::failed;
    }
    if (!mappings.all_mapped()) {
        show_error(kMappingsFailedText);
        return TapeIntakeResult::failed;
    }
    TapeReader reader;
    if (!reader.start(steps.reader_program.empty() ? default_tape_reader_path() : steps.reader_program,
                      tape_reader_arguments(options))) {
        show_error(kCannotRunReaderText);
        return TapeIntakeResult::failed;
    }
    TapeLoadSession session(mappings, reader);
    if (!steps.run_loading || !steps.run_loading(session)) {
        reader.terminate();
        return TapeIntakeResult::stopped;
    }
    int code = platform::kExitUnknown;
    if (!reader.poll(code)) {  // the dialog ended OK while the reader still runs
        reader.terminate();
        code = platform::kExitUnknown;
    }
    if (!judge_tape_reader_exit(code, mappings.sample_count())) return TapeIntakeResult::failed;

    const TapeDataBlock& tape = *mappings.tape_data();
    PatientDetails prefilled;
    prefilled.recorder_id = clean_patient_text(tape.serial_text, sizeof tape.serial_text, kPatientTextLimit);
    prefilled.recording_date = clean_patient_text(tape.recording_date, sizeof tape.recording_date, kPatientTextLimit);
    prefilled.level = get_cef_bitred(for_mail);
    prefilled.compress = true;
    prefilled.check_changeable = false;
    prefilled.for_mail = for_mail;
    if (!steps.ask_patient_details) return TapeIntakeResult::stopped;
    std::optional<PatientDetails> details = steps.ask_patient_details(prefilled, for_mail);
    if (!details) return TapeIntakeResult::stopped;

    const std::string work_folder = join_path(intake_folder, "CEF");
    if (!create_folder_path(work_folder)) {
        show_error(format_string(kTempFolderFailedText, work_folder.c_str()));
        return TapeIntakeResult::failed;
    }
    details->clean();
    const std::string output =
        join_path(intake_folder, intake_cef_file_name(*details, static_cast<IntakeDestination>(destination)));
    std::unique_ptr<CefProgress> progress = steps.make_progress ? steps.make_progress() : nullptr;
    const bool written = write_tape_cef(mappings, options, *details, work_folder, output, progress.get());
    progress.reset();
    if (!written) return TapeIntakeResult::failed;
    const bool delivered = steps.deliver && steps.deliver(output, *details, destination);
    force_delete_file(output);
    return delivered ? TapeIntakeResult::delivered : TapeIntakeResult::failed;
}

}  // namespace tv
