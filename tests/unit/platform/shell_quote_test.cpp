#include "platform/procfs/proc_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

struct QuoteCase {
    std::string argument;
    std::string quoted;
};

TEST(ShellQuote, QuotesOnlyWhatAShellWouldSplitOrExpand) {
    const std::vector<QuoteCase> cases = {
        {"plain", "plain"},
        {"/usr/bin/env", "/usr/bin/env"},
        {"--opt=a,b:c@d%e+f_g.h-i", "--opt=a,b:c@d%e+f_g.h-i"},
        {"", "''"},
        {"two words", "'two words'"},
        {"it's", "'it'\\''s'"},
        {"'", "''\\'''"},
        {"$HOME", "'$HOME'"},
        {"a*b", "'a*b'"},
        {"tab\there", "'tab\there'"},
        {"line\nbreak", "'line\nbreak'"},
        {"back\\slash", "'back\\slash'"},
        {"\"quoted\"", "'\"quoted\"'"},
        {"~user", "'~user'"},
        {"caf\xc3\xa9", "'caf\xc3\xa9'"},
    };
    for (const QuoteCase& c : cases) {
        SCOPED_TRACE(c.argument);
        std::string out = "x";
        procfs::append_shell_quoted(out, c.argument);
        EXPECT_EQ(out, "x" + c.quoted);
    }
}

struct CmdlineCase {
    const char* name;
    std::string raw;
    std::optional<std::string> text;
};

// Read by the bytes alone (stat hides the argument area), and with an area as long as the
// cmdline, which the kernel gives for an argument vector and a title that fits the area.
TEST(ShellQuote, TurnsACmdlineIntoOneText) {
    const std::vector<CmdlineCase> cases = {
        {"empty is absent", "", std::nullopt},
        {"one argument", "/bin/sleep\0"s, "/bin/sleep"},
        {"joined by single spaces", "/bin/sleep\0" "30\0"s, "/bin/sleep 30"},
        {"one empty argument", "\0"s, "''"},
        {"one argument that needs quotes", "my prog\0"s, "'my prog'"},
        {"empty arguments kept", "prog\0\0last\0"s, "prog '' last"},
        {"empty arguments at the end kept", "sh\0-c\0sleep 30\0\0x y\0\0"s,
         "sh -c 'sleep 30' '' 'x y' ''"},
        {"a word and two empty arguments, which the bytes cannot tell from a title",
         "prog\0\0\0"s, "prog"},
        {"arguments with blanks and quotes", "sh\0-c\0echo 'hi' there\0"s,
         "sh -c 'echo '\\''hi'\\'' there'"},
        {"non-ASCII kept", "caf\xc3\xa9\0"s, "'caf\xc3\xa9'"},
        {"emoji kept", "\xf0\x9f\x98\x80\0"s, "'\xf0\x9f\x98\x80'"},
        {"invalid byte replaced", "a\xff" "b\0"s, "'a\xef\xbf\xbd" "b'"},
        {"cut sequence replaced", "x\xc3\0y\0"s, "'x\xef\xbf\xbd' y"},
        {"a title cut short, as it stands", "nginx: worker process"s, "nginx: worker process"},
        {"a title cut short, invalid byte", "title \xfe"s, "title \xef\xbf\xbd"},
        // A title written over the argument area, the rest of it zero bytes.
        {"padded title as it stands", "worker: my title\0\0\0\0"s, "worker: my title"},
        {"padded title, the least padding", "title\0\0"s, "title"},
        {"padded title, a cut sequence", "caf\xc3\0\0"s, "caf\xef\xbf\xbd"},
        {"padding alone is empty", "\0\0\0"s, std::nullopt},
    };
    for (const CmdlineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(procfs::command_line_from_cmdline(c.raw), c.text);
        EXPECT_EQ(procfs::command_line_from_cmdline(c.raw, c.raw.size()), c.text);
    }
}

// A cmdline of another length than its argument area is a title written past the area's end,
// which the kernel gives up to its first zero byte (or a page of it, when it has none).
TEST(ShellQuote, ACmdlineLongerOrShorterThanItsAreaIsATitle) {
    struct AreaCase {
        const char* name;
        std::string raw;
        std::uint64_t area;
        std::optional<std::string> text;
    };
    const std::vector<AreaCase> cases = {
        {"shorter, padded with spaces after its zero (Perl)", "my daemon: idle\0"s, 43,
         "my daemon: idle"},
        {"longer, run on into the environment (nginx)",
         "nginx: master process /usr/sbin/nginx -c /etc/nginx/nginx.conf\0"s, 20,
         "nginx: master process /usr/sbin/nginx -c /etc/nginx/nginx.conf"},
        {"no zero byte in the page", "title"s, 4096, "title"},
        {"a quote stays as it is", "it's\0"s, 8, "it's"},
        {"a title that starts with its zero is empty", "\0"s, 9, std::nullopt},
        {"invalid byte replaced", "caf\xc3\0"s, 2, "caf\xef\xbf\xbd"},
    };
    for (const AreaCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(procfs::command_line_from_cmdline(c.raw, c.area), c.text);
    }
}

// The area is read only where it can change the text: one argument, its zero byte last, that
// would be quoted. Every other cmdline reads the same whatever the area says.
TEST(ShellQuote, OnlyAOneArgumentCmdlineThatNeedsQuotesHangsOnItsArea) {
    struct DecideCase {
        const char* name;
        std::string raw;
        bool decides;
    };
    const std::vector<DecideCase> cases = {
        {"empty", "", false},
        {"one word", "sleep\0"s, false},
        {"one word padded", "sleep\0\0\0"s, false},
        {"two arguments", "sleep\0" "30\0"s, false},
        {"no zero byte", "a title"s, false},
        {"one argument with a blank", "my daemon: idle\0"s, true},
        {"one empty argument", "\0"s, true},
        {"one argument not ASCII", "caf\xc3\xa9\0"s, true},
    };
    for (const DecideCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(procfs::argument_area_decides(c.raw), c.decides);
        // A cmdline that could be a title cut at its first zero byte, but does not hang on
        // its area, reads the same with an area of any length.
        if (c.decides || c.raw.empty() || c.raw.find('\0') < c.raw.size() - 1) continue;
        EXPECT_EQ(procfs::command_line_from_cmdline(c.raw, c.raw.size() + 7),
                  procfs::command_line_from_cmdline(c.raw));
    }
}

// Everything a shell might make of the quoted text: every printable ASCII character alone, at
// the start of an argument, inside one and at its end, read back by a real /bin/sh. Some are
// special only at the start of a word (# begins a comment, ~ a home directory).
TEST(ShellQuote, ARealShellSplitsTheTextBackIntoTheArguments) {
    std::vector<std::string> arguments;
    for (char c = ' '; c <= '~'; ++c) {
        const std::string one(1, c);
        arguments.push_back(one);
        arguments.push_back(one + "a");
        arguments.push_back("a" + one + "a");
        arguments.push_back("a" + one);
    }
    std::string raw;
    for (const std::string& argument : arguments) raw += argument + '\0';
    const std::optional<std::string> text = procfs::command_line_from_cmdline(raw);
    ASSERT_TRUE(text.has_value());

    // printf writes each word the shell splits the text into, each after a zero byte.
    const std::string script = "printf '\\0%s' " + *text;
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const pid_t shell = ::fork();
    if (shell == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    std::string written;
    char chunk[4096];
    for (ssize_t got; (got = ::read(output[0], chunk, sizeof chunk)) > 0;) {
        written.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(output[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(shell, &status, 0), shell);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script;

    std::vector<std::string> words;
    for (std::size_t at = 0; at < written.size();) {
        ASSERT_EQ(written[at], '\0');
        const std::size_t next = std::min(written.find('\0', at + 1), written.size());
        words.push_back(written.substr(at + 1, next - at - 1));
        at = next;
    }
    ASSERT_EQ(words.size(), arguments.size()) << *text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(words[i], arguments[i]) << "quoted as part of: " << *text;
    }
}

}  // namespace
