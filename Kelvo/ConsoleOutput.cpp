#include "ConsoleOutput.h"

#include "DSTime.h"
#include "Diag.h"
#include "ExitCodes.h"
#include "Platform.h"
#include "RunState.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <cstdio>
#include <cstdlib>
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

void Banner() {
    std::string text = "\n" + BannerLine() + "\n\n";
    if (Globals().stderrRedirected)
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
    std::remove(name.c_str());
    diag::Out("Creating usage output file - " + name + "\n");
    std::FILE* f = std::fopen(name.c_str(), "w");
    if (!f) {
        diag::Out("ERR: Couldn't open output help file - " + name + "\n");
        diag::Out(kDidNotComplete);
        Pause();
        return exitcode::kUsage;
    }
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
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
    // Logs hold directory data: keep them private to the user.
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0600);
    if (fd >= 0) {
        ::close(fd);
        file_.open(name, append ? std::ios::app : std::ios::trunc);
    }
    open_ = fd >= 0 && file_.is_open();
    if (open_) {
        WriteLine("<SOR>");
        WriteLine("Log started at: " + CurrentLocalTimeText());
    }
    return open_;
}

void LogWriter::WriteLine(std::string_view text) {
    if (!open_) return;
    file_ << text << '\n';
}

void LogWriter::Close() {
    if (!open_) return;
    WriteLine("<EOR>");
    file_.close();
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
