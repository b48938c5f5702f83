#include "tool_arguments.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <stdexcept>

#include "notify/record.h"
#include "notify_channel.h"

namespace {

constexpr char kNoJob[] = "no job given: use send or serve (see --help)";

// A mistake on the command line, in the words the stand-in prints.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& text) {
    throw UsageError(text);
}

uint32_t Unsigned(const std::string& option, const std::string& text) {
    const std::optional<int64_t> number = ParseInteger(text);
    if (!number || *number < 0 || *number > 0xFFFFFFFFll) {
        Refuse("option " + option + " takes a number from 0 to 4294967295, not " + text);
    }
    return static_cast<uint32_t>(*number);
}

int32_t Signed(const std::string& option, const std::string& text) {
    const std::optional<int64_t> number = ParseInteger(text);
    // Hex forms up to 0xFFFFFFFF are taken as their 32-bit pattern.
    if (!number || *number < INT32_MIN || *number > 0xFFFFFFFFll) {
        Refuse("option " + option + " takes a 32-bit number, not " + text);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(*number));
}

Bytes Hex(const std::string& option, const std::string& text) {
    std::optional<Bytes> bytes = ParseHex(text);
    if (!bytes) {
        Refuse("option " + option + " takes hex bytes such as 01000000, not " + text);
    }
    return std::move(*bytes);
}

// An option whose value `apply` takes (as text) when the whole line has been read.
void AddValue(CLI::App& job, const std::string& name,
              const std::function<void(const std::string&)>& apply) {
    job.add_option_function<std::string>(name, apply);
}

// The send job. A record starts at its type (a positional word) or at --raw;
// the payload options after it belong to it, and the target options must come
// before the first. The positional words are collected by CLI11 as they come;
// every option that depends on the order runs while the line is read and
// first turns the types read so far into records.
class SendLine {
public:
    SendLine(CLI::App& app, SendOptions& send) : m_send(send) {
        CLI::App& job = *app.add_subcommand("send");
        job.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        m_types = job.add_option("type")->expected(0, -1)->allow_extra_args();
        AddTarget(job, "--user", [this](const std::string& v) { m_send.userName = v; });
        AddTarget(job, "--channel", [this](const std::string& v) { m_send.channel = v; });
        for (const char* option : {"--sid", "--uid"}) {
            AddTarget(job, option, [this, option](const std::string& v) {
                if (std::string(option) != UserIdOption()) {
                    Refuse(std::string(option) + " names a user on " +
                           (option == std::string("--sid") ? "Windows" : "posix") +
                           " only; here give " + UserIdOption() + ", --user or --channel");
                }
                m_send.userId = v;
            });
        }
        AddValue(job, "--timeout", [this](const std::string& v) {
            m_send.replyTimeoutMs = Unsigned("--timeout", v);
            if (m_send.replyTimeoutMs == 0) {
                Refuse(
                    "option --timeout takes a wait of at least 1 ms: a reply can't come "
                    "without one");
            }
        });
        AddValue(job, "--connect-wait", [this](const std::string& v) {
            m_send.connectWaitMs = Unsigned("--connect-wait", v);
            m_connectWaitGiven = true;
        });
        job.add_flag("--wait-free", m_send.waitFree);
        AddValue(job, "--backoff-max", [this](const std::string& v) {
            m_send.backoffMaxMs = Unsigned("--backoff-max", v);
            if (m_send.backoffMaxMs == 0) {
                Refuse("option --backoff-max takes a pause of at least 1 ms");
            }
        });
        Ordered(job.add_option_function<std::string>("--raw", [this](const std::string& v) {
            TakeTypes();
            m_send.records.emplace_back().raw = Hex("--raw", v);
        }));
        Ordered(job.add_option_function<std::string>(
            "--detail",
            OfRecord("--detail", [](RecordToSend& r, const std::string& v) { r.detail = v; })));
        Ordered(job.add_option_function<std::string>(
            "--error-code", OfRecord("--error-code", [](RecordToSend& r, const std::string& v) {
                r.errorCode = Signed("--error-code", v);
            })));
        Ordered(job.add_option_function<std::string>(
            "--length", OfRecord("--length", [](RecordToSend& r, const std::string& v) {
                r.lengthWord = Unsigned("--length", v);
            })));
        for (const bool expect : {true, false}) {
            const std::string name = expect ? "--expect-reply" : "--no-reply";
            const auto apply = OfRecord(
                name, [expect](RecordToSend& r, const std::string&) { r.expectReply = expect; });
            Ordered(job.add_flag_function(name, [apply](int64_t) { apply(""); }));
        }
        m_job = &job;
    }

    bool Given() const { return m_job->parsed(); }

    // The checks that need the whole line.
    void Finish() {
        TakeTypes();
        if (m_send.userName && m_send.userId) {
            Refuse("give either --user or --sid/--uid, not both");
        }
        if (m_send.channel && (m_send.userName || m_send.userId)) {
            Refuse("--channel names the channel itself: leave out --user, --sid and --uid");
        }
        if (m_send.waitFree && m_connectWaitGiven) {
            Refuse("--wait-free waits without a limit: leave out --connect-wait");
        }
        if (m_send.records.empty()) {
            Refuse("send needs at least one record, e.g. send ack-only");
        }
        for (const RecordToSend& record : m_send.records) {
            if (record.raw && (record.detail || record.errorCode)) {
                Refuse("a --raw record takes no --detail or --error-code");
            }
            const NotificationTypeInfo* type =
                record.type ? FindNotificationType(*record.type) : nullptr;
            if (type != nullptr && type->payload == RecordPayload::ErrorCode && !record.errorCode) {
                Refuse(std::string(type->name) +
                       " needs --error-code N (the notifier drops it without one; --raw sends "
                       "such a body)");
            }
        }
    }

private:
    using Apply = std::function<void(RecordToSend&, const std::string&)>;

    // Turns the types read since the last call into records, in order.
    void TakeTypes() {
        const std::vector<std::string>& types = m_types->results();
        for (; m_typesTaken < types.size(); ++m_typesTaken) {
            const std::optional<int32_t> type = ParseRecordType(types[m_typesTaken]);
            if (!type) {
                Refuse("unknown record type " + types[m_typesTaken] +
                       " (see --help for the names)");
            }
            m_send.records.emplace_back().type = *type;
        }
    }

    // An option that is applied where it stands on the line, not at its end.
    static void Ordered(CLI::Option* option) { option->trigger_on_parse(); }

    void AddTarget(CLI::App& job, const std::string& name,
                   const std::function<void(const std::string&)>& apply) {
        Ordered(
            job.add_option_function<std::string>(name, [this, name, apply](const std::string& v) {
                TakeTypes();
                if (!m_send.records.empty()) {
                    Refuse(name + " goes before the first record");
                }
                apply(v);
            }));
    }

    // Applies a payload option to the record it follows.
    std::function<void(const std::string&)> OfRecord(const std::string& name, const Apply& apply) {
        return [this, name, apply](const std::string& v) {
            TakeTypes();
            if (m_send.records.empty()) {
                Refuse(name + " belongs to a record: give the record's type first");
            }
            apply(m_send.records.back(), v);
        };
    }

    SendOptions& m_send;
    CLI::App* m_job = nullptr;
    CLI::Option* m_types = nullptr;
    size_t m_typesTaken = 0;
    bool m_connectWaitGiven = false;
};

CLI::App* AddServe(CLI::App& app, ServeOptions& serve) {
    CLI::App& job = *app.add_subcommand("serve");
    job.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    AddValue(job, "--channel", [&serve](const std::string& v) { serve.channel = v; });
    job.add_option("--version", serve.version);
    AddValue(job, "--status",
             [&serve](const std::string& v) { serve.status = Signed("--status", v); });
    AddValue(job, "--text", [&serve](const std::string& v) { serve.text = v; });
    AddValue(job, "--raw-reply",
             [&serve](const std::string& v) { serve.rawReply = Hex("--raw-reply", v); });
    AddValue(job, "--reply-length",
             [&serve](const std::string& v) { serve.replyLength = Unsigned("--reply-length", v); });
    AddValue(job, "--delay",
             [&serve](const std::string& v) { serve.delayMs = Unsigned("--delay", v); });
    AddValue(job, "--count",
             [&serve](const std::string& v) { serve.count = Unsigned("--count", v); });
    job.add_flag("--drop", serve.drop);
    AddValue(job, "--log", [&serve](const std::string& v) { serve.logFile = v; });
    return &job;
}

}  // namespace

std::optional<ToolCommandLine> ParseToolArguments(const std::vector<std::string>& args,
                                                  std::string* error) {
    ToolCommandLine line;
    if (args.empty()) {
        *error = kNoJob;
        return std::nullopt;
    }
    // The help is asked for by the job "help" or anywhere on the line,
    // whatever else it holds.
    bool help = args[0] == "help";
    for (const std::string& arg : args) {
        help = help || arg == "--help" || arg == "-h";
    }
    if (help) {
        line.job = ToolJob::Help;
        return line;
    }
    // Only as the first word: after "serve", --version is the version it serves.
    if (args[0] == "--version") {
        line.job = ToolJob::Version;
        return line;
    }
    CLI::App app("orlivan-service-standin");
    app.set_help_flag();  // the help is ToolHelpText, shown by the caller
    app.require_subcommand(0, 1);
    SendLine send(app, line.send);
    CLI::App* serve = AddServe(app, line.serve);
    app.allow_extras();  // a word that names no job is reported below
    try {
        // CLI11 reads the arguments from the back, the program name excluded.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
        if (!app.remaining().empty()) {
            const std::string word = app.remaining().front();
            Refuse(app.get_subcommands().empty()
                       ? "unknown job " + word + ": use send or serve (see --help)"
                       : "unexpected argument " + word + " (see --help)");
        }
        if (send.Given()) {
            send.Finish();
            line.job = ToolJob::Send;
        } else if (serve->parsed()) {
            line.job = ToolJob::Serve;
        } else {
            Refuse(kNoJob);
        }
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return std::nullopt;
    } catch (const UsageError& e) {
        *error = e.what();
        return std::nullopt;
    }
    return line;
}

std::optional<int32_t> ParseRecordType(std::string_view text) {
    for (const NotificationTypeInfo& type : NotificationTypes()) {
        if (text == type.name || text == type.constant) {
            return type.code;
        }
    }
    const std::optional<int64_t> number = ParseInteger(text);
    if (!number || *number < INT32_MIN || *number > 0xFFFFFFFFll) {
        return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(*number));
}
