#include "ConsoleOutput.h"

#include "DSTime.h"
#include "Diag.h"
#include "ExitCodes.h"
#include "Files.h"
#include "Platform.h"
#include "RunState.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string BannerLine() {
    return std::string(kProgramName) + " " + std::string(kVersionText) + " " +
           std::string(kReleaseText) + " " + std::string(kMakerLine);
}

std::string g_savedTitle;

} // namespace

void Banner(bool keepOffStdout) {
    std::string text = "\n" + BannerLine() + "\n\n";
    if (Globals().stderrRedirected && !keepOffStdout)
        diag::Out(text);
    else
        diag::Err(text);
}

std::string DefaultUsageFileName() {
    return std::string(kProgramName) + "_" + std::string(kFileVersion) + "_usage.txt";
}

int Usage(HelpMode mode, bool toFile, const std::string& usageFile) {
    std::string text = ComposeHelp(mode, kVersionText);
    if (!toFile) {
        diag::Out(text);
        return exitcode::kUsage;
    }
    std::string name = usageFile.empty() ? DefaultUsageFileName() : usageFile;
    diag::Out("Creating usage output file - " + name + "\n");
    // Replaced in place: a private regular file, never one reached through a
    // link.
    platform::OpenedFile opened = platform::OpenPrivateFile(name, false);
    const bool written =
        opened.file && platform::WriteAll(opened.file.get(), text.data(), text.size());
    if (!written || !opened.file.Close()) {
        const std::string why = opened.reason.empty() ? std::strerror(errno) : opened.reason;
        diag::Out("ERR: Couldn't open output help file - " + name + " (" + why + ")\n");
        diag::Out(kDidNotComplete);
        Pause();
        return exitcode::kUsage;
    }
    // Hand the file to the desktop's viewer when there is a desktop session.
    const bool desktop = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (desktop && access("/usr/bin/xdg-open", X_OK) == 0) {
        diag::Out("Opening usage output file - xdg-open " + name + "\n");
        pid_t pid;
        std::string opener = "/usr/bin/xdg-open";
        char* args[] = {opener.data(), name.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn(&pid, opener.c_str(), &actions, nullptr, args, environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    return exitcode::kUsage;
}

std::string ErrorBlockText(std::initializer_list<std::string_view> lines, ErrorFrame frame) {
    const std::string_view edge = frame == ErrorFrame::Bare ? "ERROR:\n" : "ERROR: \n";
    std::string text(edge);
    for (std::string_view line : lines) {
        text += "ERROR: ";
        text += line;
        text += '\n';
    }
    text += edge;
    return text;
}

void ErrorBlock(std::initializer_list<std::string_view> lines, ErrorFrame frame) {
    diag::Out(ErrorBlockText(lines, frame));
}

Failure UsageFailure(std::string text) {
    return Failure{exitcode::kUsage, std::move(text) + std::string(kUsageHint)};
}

Failure UsageFailureAfterBlank(std::string text) {
    return UsageFailure(std::move(text) + "\n");
}

Failure Fail(int exitCode, std::string text, bool pause) {
    return Failure{exitCode, std::move(text), pause};
}

int VersionBlock(const std::string& programPath) {
    diag::TraceOut("DEBUG: Pulling executable pathing information for -appver\n");
    std::string exe = platform::ExecutablePath();
    std::string text = BannerLine() + "\n";
    text += "  BUILD    : " + std::string(kFileVersion) + " SHP\n";
    text += "  BUILDDATE: " + std::string(__DATE__) + "\n";
    text += "  WIN32  PATH: " + (programPath.empty() ? exe : programPath) + "\n";
    text += "  NATIVE PATH: " + exe + "\n\n";
    diag::Out(text);
    return 0;
}

std::string SelectedText(const SwitchParser& parser, std::string_view prefix) {
    std::string p(prefix);
    const std::string delim = AttributeDelimiter(parser);
    std::string text = p + "Selected Switches\n";
    for (const auto& [name, value] : parser.SelectedSwitches()) {
        const std::string shownName = RedactSwitchName(parser, name);
        text += p + "    -" + shownName + " " +
                (shownName == name ? RedactValue(name, value, delim) : std::string(kRedacted)) +
                "\n";
    }
    text += p + "\n" + p + "Selected Attributes\n";
    for (const auto& arg : parser.SelectedArgs())
        text += p + "    " + RedactAction(arg, delim) + "\n";
    text += p + "\n" + p + "\n";
    return text;
}

void Pause() {
    auto& g = Globals();
    if (!g.pause || g.stdinRedirected || g.stdoutRedirected) return;
    diag::Out("\n");
    diag::Out("Press Enter to Continue...");
    diag::Flush();
    (void)platform::ReadConsoleLine(26);
}

bool LogWriter::Open(const std::string& name, bool append) {
    Close();
    // Logs hold directory data: a private regular file, never reached
    // through a link.
    platform::OpenedFile opened = platform::OpenPrivateFile(name, append);
    if (!opened.file) {
        error_ = opened.reason;
        return false;
    }
    file_ = std::move(opened.file);
    name_ = name;
    open_ = true;
    failed_ = false;
    error_.clear();
    WriteLine("<SOR>");
    WriteLine("Log started at: " + CurrentLocalTimeText());
    return true;
}

void LogWriter::WriteLine(std::string_view text) {
    if (!open_) return;
    buffer_.append(text);
    buffer_.push_back('\n');
    if (buffer_.size() >= kFlushAt) Flush();
}

void LogWriter::Flush() {
    if (!open_ || buffer_.empty()) return;
    if (!failed_ && !platform::WriteAll(file_.get(), buffer_.data(), buffer_.size())) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    buffer_.clear();
}

void LogWriter::Close() {
    if (!open_) return;
    WriteLine("<EOR>");
    Flush();
    if (!file_.Close() && !failed_) {
        failed_ = true;
        error_ = std::strerror(errno);
    }
    open_ = false;
}

LogWriter& Log() {
    static LogWriter log;
    return log;
}

void SaveTitle() {
    g_savedTitle = platform::GetConsoleTitle();
}
void RestoreTitle() {
    platform::SetConsoleTitle(g_savedTitle);
}

void Progress(double percent, char character) {
    int pct = static_cast<int>(percent);
    int bar = static_cast<int>(percent / 100.0 * 50.0);
    std::string title = std::to_string(pct) + "% - " +
                        std::string(static_cast<std::size_t>(bar > 0 ? bar : 0), character);
    if (title.size() > 260) title.resize(260);
    platform::SetConsoleTitle(title);
}

void Timers::Start(const std::string& name) {
    timers_[name] = {platform::TickCount(), 0};
}

std::uint64_t Timers::Stop(const std::string& name) {
    auto& t = timers_[name];
    t.second = platform::TickCount();
    std::uint64_t delta = t.second - t.first;
    if (diag::Debug()) {
        diag::Out("Start: " + std::to_string(t.first) + "\n");
        diag::Out("End  : " + std::to_string(t.second) + "\n");
        diag::Out("Delta: " + std::to_string(delta) + "\n");
    }
    return delta;
}

double Timers::Seconds(const std::string& name) {
    return static_cast<double>(Stop(name) / 1000);
}
