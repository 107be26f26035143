#pragma once
// A Windows command line taken apart the way CreateProcessW and the C runtime do: the program
// is the first token (up to the closing quote when it starts with one, else up to the first
// blank, with no escapes), and the arguments follow the runtime's quoting rules.
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::sim {

struct CommandLine {
    std::u16string program;  // as written, without its quotes
    std::vector<std::u16string> arguments;
};

// Argument rules: blanks (space, tab) separate arguments outside quotes; a quote toggles
// quoting; inside quotes a doubled quote is one literal quote; 2n backslashes before a quote
// give n backslashes (and the quote toggles), 2n+1 give n backslashes and a literal quote;
// other backslashes are literal.
CommandLine SplitCommandLine(std::u16string_view line);

}  // namespace tarvex::sim
