// modempeer: a Hayes-style modem on a pseudo-terminal, for tests (Linux).
//
//   modempeer serve --link PATH [--log FILE] [--mode MODE] [--delay MS]
//                   [--speed TEXT] [--echo] [--mute] [--guard-ms MS]
//                   [--drop-after MS] [--number DIGITS=MODE]... [--timeout S]
//     Opens a pseudo-terminal, makes PATH a symbolic link to its terminal
//     and answers AT commands there. MODE is what a dial ends in: connect,
//     busy, nocarrier, nodialtone, noanswer, error, silent (no result) or
//     drop (connect, then lose the carrier after --drop-after, 500 ms);
//     --number picks the mode by the dialled digits. --mute answers nothing
//     at all; --drop-after drops the carrier that long after CONNECT.
//
//   modempeer answer --device PATH [--init CMD]... [--gap-ms MS] [--log FILE]
//                    [--timeout S]
//     Drives a modem (e.g. an iaxmodem instance) as its user would:
//     initialises it (pausing --gap-ms, 1000, after each OK), answers the first RING with ATA and
//     logs what the modem says until NO CARRIER or the timeout.
//
// The log has one event a line: "OPEN", "CMD <line>", "DIAL <string>",
// "RESULT <text>", "ESCAPE", "HANGUP ATH", "HANGUP CLOSED" (the port was
// closed during a call: the nearest a pseudo-terminal has to a DTR drop),
// "ABORT <why>", "CLOSED".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
FILE* g_log = nullptr;

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void Log(const std::string& line) {
    if (g_log) {
        std::fprintf(g_log, "%s\n", line.c_str());
        std::fflush(g_log);
    }
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

void MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            usleep(1000);
        } else {
            return;
        }
    }
}

struct ServeOptions {
    std::string link;
    std::string mode = "connect";
    std::map<std::string, std::string> numberModes;
    int delayMs = 300;
    std::string speed = "33600";
    bool echo = false;
    bool mute = false;
    int guardMs = 800;
    int dropAfterMs = -1;
};

class Modem {
public:
    Modem(int master, const ServeOptions& options) : fd_(master), opt_(options) { Reset(); }

    void OnPortOpened() { Log("OPEN"); }

    void OnPortClosed() {
        if (state_ != State::Command)
            Log("HANGUP CLOSED");
        Log("CLOSED");
        Reset();
        state_ = State::Command;
        line_.clear();
    }

    void OnInput(const std::string& bytes) {
        for (char c : bytes)
            OnChar(c);
    }

    void OnTick() {
        const long long now = NowMs();
        if (state_ == State::Dialling && dialDue_ >= 0 && now >= dialDue_)
            FinishDial();
        if (state_ == State::Online && plusCount_ == 3 && now - lastInput_ >= opt_.guardMs) {
            Log("ESCAPE");
            plusCount_ = 0;
            state_ = State::OnlineCommand;
            Result("OK", 0);
        }
        if ((state_ == State::Online || state_ == State::OnlineCommand) && dropDue_ >= 0 &&
            now >= dropDue_) {
            Log("ABORT carrier dropped");
            state_ = State::Command;
            dropDue_ = -1;
            Result("NO CARRIER", 3);
        }
    }

private:
    enum class State { Command, Dialling, Online, OnlineCommand, VoiceOffHook };

    void Reset() {
        echo_ = opt_.echo;
        verbose_ = true;
        quiet_ = false;
    }

    void Result(const char* words, int code) {
        Log(std::string("RESULT ") + words);
        if (opt_.mute || quiet_)
            return;
        if (verbose_) {
            WriteAll(fd_, std::string("\r\n") + words + "\r\n");
        } else {
            WriteAll(fd_, std::to_string(code) + "\r");
        }
    }

    void OnChar(char c) {
        const long long now = NowMs();
        const long long silence = now - lastInput_;
        lastInput_ = now;
        switch (state_) {
        case State::Dialling:
            // Any character ends a dial in progress, as on a real modem.
            Log("ABORT dial interrupted");
            state_ = State::Command;
            Result("NO CARRIER", 3);
            return;
        case State::Online:
            if (c == '+' && (plusCount_ > 0 ? silence < opt_.guardMs : silence >= opt_.guardMs) &&
                plusCount_ < 3) {
                ++plusCount_;
            } else {
                plusCount_ = 0;
            }
            return;
        default:
            break;
        }
        if (echo_ && !opt_.mute)
            WriteAll(fd_, std::string(1, c));
        if (c == '\r') {
            std::string line;
            line.swap(line_);
            OnLine(line);
        } else if (c != '\n' && line_.size() < 256) {
            line_ += c;
        }
    }

    void OnLine(const std::string& line) {
        if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A' ||
            std::toupper(static_cast<unsigned char>(line[1])) != 'T')
            return;
        Log("CMD " + Printable(line));
        std::size_t i = 2;
        auto number = [&] {
            int value = 0;
            while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
                value = value * 10 + (line[i++] - '0');
            return value;
        };
        while (i < line.size()) {
            const char command =
                static_cast<char>(std::toupper(static_cast<unsigned char>(line[i++])));
            switch (command) {
            case ' ':
                break;
            case 'Z':
                Reset();
                number();
                break;
            case 'E':
                echo_ = number() != 0;
                break;
            case 'V':
                verbose_ = number() != 0;
                break;
            case 'Q':
                quiet_ = number() != 0;
                break;
            case 'H':
                number();
                if (state_ != State::Command)
                    Log("HANGUP ATH");
                state_ = State::Command;
                break;
            case 'O':
                number();
                if (state_ == State::OnlineCommand) {
                    state_ = State::Online;
                    Result(("CONNECT " + opt_.speed).c_str(), 1);
                    return;
                }
                Result("NO CARRIER", 3);
                return;
            case 'A':
                Result("NO CARRIER", 3);
                return;
            case 'D':
                StartDial(line.substr(i));
                return;
            case 'S':
                number();
                if (i < line.size() && (line[i] == '=' || line[i] == '?')) {
                    ++i;
                    number();
                }
                break;
            case '&':
            case '\\':
            case '%':
                if (i < line.size())
                    ++i;
                number();
                break;
            case '+':
            case '#':
                i = line.size();
                break;
            default:
                if (std::isalpha(static_cast<unsigned char>(command))) {
                    number();
                    break;
                }
                Result("ERROR", 4);
                return;
            }
        }
        Result("OK", 0);
    }

    void StartDial(std::string dial) {
        Log("DIAL " + Printable(dial));
        voice_ = !dial.empty() && dial.back() == ';';
        std::string digits;
        for (char c : dial) {
            if (std::isdigit(static_cast<unsigned char>(c)))
                digits += c;
        }
        const auto chosen = opt_.numberModes.find(digits);
        dialMode_ = chosen != opt_.numberModes.end() ? chosen->second : opt_.mode;
        state_ = State::Dialling;
        dialDue_ = dialMode_ == "silent" ? -1 : NowMs() + opt_.delayMs;
    }

    void FinishDial() {
        dialDue_ = -1;
        state_ = State::Command;
        if (dialMode_ == "connect" || dialMode_ == "drop") {
            if (voice_) {
                state_ = State::VoiceOffHook;
                Result("OK", 0);
            } else {
                state_ = State::Online;
                plusCount_ = 0;
                const int dropAfter =
                    dialMode_ == "drop" && opt_.dropAfterMs < 0 ? 500 : opt_.dropAfterMs;
                dropDue_ = dropAfter >= 0 ? NowMs() + dropAfter : -1;
                Result(("CONNECT " + opt_.speed).c_str(), 1);
            }
        } else if (dialMode_ == "busy") {
            Result("BUSY", 7);
        } else if (dialMode_ == "nocarrier") {
            Result("NO CARRIER", 3);
        } else if (dialMode_ == "nodialtone") {
            Result("NO DIALTONE", 6);
        } else if (dialMode_ == "noanswer") {
            Result("NO ANSWER", 8);
        } else {
            Result("ERROR", 4);
        }
    }

    int fd_;
    const ServeOptions& opt_;
    State state_ = State::Command;
    std::string line_;
    bool echo_ = false, verbose_ = true, quiet_ = false, voice_ = false;
    std::string dialMode_;
    long long dialDue_ = -1, dropDue_ = -1;
    long long lastInput_ = 0;
    int plusCount_ = 0;
};

int Serve(const ServeOptions& options, int timeoutS) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("modempeer: pseudo-terminal");
        return 2;
    }
    const char* slaveName = ptsname(master);
    if (!slaveName) {
        std::perror("modempeer: ptsname");
        return 2;
    }
    const std::string slave = slaveName;
    // Raw from the start; opening and closing the slave once also puts the
    // master into the "other side closed" state that tells opens from closes.
    const int slaveFd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (slaveFd >= 0) {
        MakeRaw(slaveFd);
        close(slaveFd);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    unlink(options.link.c_str());
    if (symlink(slave.c_str(), options.link.c_str()) != 0) {
        std::perror("modempeer: symlink");
        return 2;
    }
    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);

    Modem modem(master, options);
    bool open = false;
    const long long end = NowMs() + timeoutS * 1000LL;
    while (!g_stop && NowMs() < end) {
        pollfd pfd{master, POLLIN, 0};
        const int ready = poll(&pfd, 1, 10);
        const bool hungUp = ready > 0 && (pfd.revents & POLLHUP) && !(pfd.revents & POLLIN);
        if (hungUp) {
            if (open)
                modem.OnPortClosed();
            open = false;
            usleep(10000);
            continue;
        }
        if (!open && ready >= 0) {
            open = true;
            modem.OnPortOpened();
        }
        if (ready > 0 && (pfd.revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                modem.OnInput(std::string(buffer, static_cast<std::size_t>(n)));
        }
        modem.OnTick();
    }
    unlink(options.link.c_str());
    close(master);
    return 0;
}

// ---- answer: drive a modem as its user

std::string ReadFor(int fd, int ms) {
    std::string out;
    const long long end = NowMs() + ms;
    while (NowMs() < end && !g_stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 20) > 0 && (pfd.revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return out;
}

// Lines with words in them, one "RX" log entry each; true when one of
// them is `wanted`.
bool LogLines(const std::string& text, const char* wanted) {
    bool seen = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        if (!line.empty()) {
            Log("RX " + Printable(line));
            if (wanted && line.compare(0, std::strlen(wanted), wanted) == 0)
                seen = true;
        }
        start = end + 1;
    }
    return seen;
}

int Answer(const std::string& device, const std::vector<std::string>& init, int gapMs,
           int timeoutS) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror("modempeer: open device");
        return 2;
    }
    MakeRaw(fd);
    for (const auto& command : init) {
        Log("TX " + command);
        WriteAll(fd, command + "\r");
        std::string reply;
        const long long end = NowMs() + 3000;
        while (NowMs() < end && reply.find("OK") == std::string::npos &&
               reply.find("ERROR") == std::string::npos)
            reply += ReadFor(fd, 50);
        LogLines(reply, nullptr);
        if (reply.find("OK") == std::string::npos) {
            Log("ABORT no OK for " + command);
            return 3;
        }
        usleep(static_cast<useconds_t>(gapMs) * 1000);
    }
    Log("READY");
    const long long end = NowMs() + timeoutS * 1000LL;
    bool answered = false;
    while (!g_stop && NowMs() < end) {
        const std::string text = ReadFor(fd, 100);
        if (text.empty())
            continue;
        if (!answered && LogLines(text, "RING")) {
            answered = true;
            Log("TX ATA");
            WriteAll(fd, "ATA\r");
        } else if (answered && text.find("NO CARRIER") != std::string::npos) {
            LogLines(text, nullptr);
            break;
        } else if (answered) {
            LogLines(text, nullptr);
        }
    }
    Log("DONE");
    close(fd);
    return 0;
}

void OnSignal(int) {
    g_stop = 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: modempeer serve --link PATH [--log FILE] [--mode MODE] [--delay MS] "
                 "[--speed TEXT]\n"
                 "                       [--echo] [--mute] [--guard-ms MS] [--drop-after MS]\n"
                 "                       [--number DIGITS=MODE]... [--timeout S]\n"
                 "       modempeer answer --device PATH [--init CMD]... [--gap-ms MS] [--log FILE] "
                 "[--timeout S]\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    const std::string verb = argv[1];
    ServeOptions serve;
    std::string device, logPath;
    std::vector<std::string> init;
    int timeoutS = 300;
    int gapMs = 1000;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "modempeer: %s needs a value\n", arg.c_str());
                std::exit(1);
            }
            return argv[++i];
        };
        if (arg == "--link")
            serve.link = value();
        else if (arg == "--log")
            logPath = value();
        else if (arg == "--mode")
            serve.mode = value();
        else if (arg == "--delay")
            serve.delayMs = std::atoi(value().c_str());
        else if (arg == "--speed")
            serve.speed = value();
        else if (arg == "--echo")
            serve.echo = true;
        else if (arg == "--mute")
            serve.mute = true;
        else if (arg == "--guard-ms")
            serve.guardMs = std::atoi(value().c_str());
        else if (arg == "--drop-after")
            serve.dropAfterMs = std::atoi(value().c_str());
        else if (arg == "--timeout")
            timeoutS = std::atoi(value().c_str());
        else if (arg == "--device")
            device = value();
        else if (arg == "--init")
            init.push_back(value());
        else if (arg == "--gap-ms")
            gapMs = std::atoi(value().c_str());
        else if (arg == "--number") {
            const std::string rule = value();
            const auto eq = rule.find('=');
            if (eq == std::string::npos)
                return Usage();
            serve.numberModes[rule.substr(0, eq)] = rule.substr(eq + 1);
        } else {
            return Usage();
        }
    }
    if (!logPath.empty()) {
        g_log = std::fopen(logPath.c_str(), "a");
        if (!g_log) {
            std::perror("modempeer: log");
            return 2;
        }
    }
    if (verb == "serve" && !serve.link.empty())
        return Serve(serve, timeoutS);
    if (verb == "answer" && !device.empty())
        return Answer(device, init, gapMs, timeoutS);
    return Usage();
}
