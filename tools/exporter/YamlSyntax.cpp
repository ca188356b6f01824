#include "YamlSyntax.h"

#include <cstring>
#include <vector>

namespace {

struct Opener {
    char bracket;
    int line;
    int column;
};

bool Space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The flow brackets ("{", "[") still open where yaml-cpp gave up, outermost
// first. Quoted scalars and comments are passed over. Outside a flow
// collection a bracket opens one only where a value starts (after ":", "-",
// "," or at the start of a line), as YAML has it; "a{b" is a plain scalar.
std::vector<Opener> OpenBrackets(const std::string& text, const YAML::Mark& upTo)
{
    std::vector<Opener> open;
    int line = 0, column = 0;
    char quote = 0;
    bool comment = false;
    char before = '\n';        // the last character that was not a blank
    char previous = '\n';      // the character just before
    for (size_t k = 0; k < text.size(); ++k) {
        if (line > upTo.line || (line == upTo.line && column >= upTo.column))
            break;
        const char c = text[k];
        if (quote == '\'' && c == '\'') {
            if (k + 1 < text.size() && text[k + 1] == '\'')
                ++k, ++column;   // '' is a quote inside the scalar
            else
                quote = 0;
        } else if (quote == '"' && c == '\\' && k + 1 < text.size() && text[k + 1] != '\n') {
            ++k, ++column;
        } else if (quote == '"' && c == '"') {
            quote = 0;
        } else if (!quote && !comment) {
            const bool valueStarts = !open.empty() || std::strchr(":-,\n", before) != nullptr;
            if (c == '#' && Space(previous)) {
                comment = true;
            } else if ((c == '\'' || c == '"') && (Space(previous) || std::strchr("[{,:", previous))) {
                quote = c;
            } else if ((c == '{' || c == '[') && valueStarts) {
                open.push_back({c, line, column});
            } else if ((c == '}' || c == ']') && !open.empty()) {
                open.pop_back();
            }
        }
        if (c == '\n') {
            ++line;
            column = 0;
            comment = false;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column;   // yaml-cpp counts characters, not the bytes of UTF-8
        }
        previous = c;
        if (!Space(c) || c == '\n')
            before = c;
    }
    return open;
}

}  // namespace

YamlSyntaxFault LocateYamlFault(const std::string& text, const YAML::Exception& error)
{
    YamlSyntaxFault fault{error.mark, error.msg};
    // The errors of a flow collection that runs on past where it should have ended.
    const bool flowRunsOn = error.msg == YAML::ErrorMsg::END_OF_MAP_FLOW
                            || error.msg == YAML::ErrorMsg::END_OF_SEQ_FLOW
                            || error.msg == YAML::ErrorMsg::BLOCK_ENTRY
                            || error.msg == YAML::ErrorMsg::MAP_KEY;
    if (!flowRunsOn || error.mark.is_null())
        return fault;
    const std::vector<Opener> open = OpenBrackets(text, error.mark);
    if (open.empty())
        return fault;
    const Opener& innermost = open.back();
    fault.mark.line = innermost.line;
    fault.mark.column = innermost.column;
    fault.what = std::string("\"") + innermost.bracket + "\" is not closed (" + error.msg + " at line "
                 + std::to_string(error.mark.line + 1) + ", column " + std::to_string(error.mark.column + 1) + ")";
    return fault;
}
