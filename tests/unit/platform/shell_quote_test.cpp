#include "platform/procfs/proc_text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

TEST(ShellQuote, TurnsACmdlineIntoOneText) {
    const std::vector<CmdlineCase> cases = {
        {"empty is absent", "", std::nullopt},
        {"one argument", "/bin/sleep\0"s, "/bin/sleep"},
        {"joined by single spaces", "/bin/sleep\0" "30\0"s, "/bin/sleep 30"},
        {"one empty argument", "\0"s, "''"},
        {"empty arguments kept", "prog\0\0last\0"s, "prog '' last"},
        {"arguments with blanks and quotes", "sh\0-c\0echo 'hi' there\0"s,
         "sh -c 'echo '\\''hi'\\'' there'"},
        {"non-ASCII kept", "caf\xc3\xa9\0"s, "'caf\xc3\xa9'"},
        {"emoji kept", "\xf0\x9f\x98\x80\0"s, "'\xf0\x9f\x98\x80'"},
        {"invalid byte replaced", "a\xff" "b\0"s, "'a\xef\xbf\xbd" "b'"},
        {"cut sequence replaced", "x\xc3\0y\0"s, "'x\xef\xbf\xbd' y"},
        {"rewritten title as it stands", "nginx: worker process"s, "nginx: worker process"},
        {"rewritten title, invalid byte", "title \xfe"s, "title \xef\xbf\xbd"},
        // A title written over the argument area, the rest of it zero bytes.
        {"padded title as it stands", "worker: my title\0\0\0\0"s, "worker: my title"},
        {"padded title, the least padding", "title\0\0"s, "title"},
        {"padded title, zero bytes inside as spaces", "worker:\0my\0\0title\0\0\0"s,
         "worker: my  title"},
        {"padded title, a cut sequence before a zero", "caf\xc3\0x\0\0"s, "caf\xef\xbf\xbd x"},
        {"padding alone is empty", "\0\0\0"s, std::nullopt},
    };
    for (const CmdlineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(procfs::command_line_from_cmdline(c.raw), c.text);
    }
}

}  // namespace
