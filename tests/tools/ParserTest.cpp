// Tokens and syntax trees of the runner's language: the shapes the evaluator
// relies on, written as S-expressions.

#include "tools/osascript/Lexer.hpp"
#include "tools/osascript/Parser.hpp"

#include <gtest/gtest.h>

namespace vesko::osascript {
namespace {

using namespace ast;

std::string dump(const Expr& e);

std::string dumpOf(const Expr& e, const std::string& head) {
    return e.container ? "(" + head + " " + dump(*e.container) + ")" : "(" + head + ")";
}

std::string dump(const Expr& e) {
    switch (e.kind) {
    case ExprKind::Text: return "\"" + e.name + "\"";
    case ExprKind::Integer: return std::to_string(e.integer);
    case ExprKind::Real: return "real";
    case ExprKind::Constant: return e.name;
    case ExprKind::Variable: return "$" + e.name;
    case ExprKind::List: {
        std::string out = "{";
        for (std::size_t i = 0; i < e.items.size(); ++i) out += (i ? " " : "") + dump(*e.items[i]);
        return out + "}";
    }
    case ExprKind::Application: return "(app " + dump(*e.left) + ")";
    case ExprKind::Binary: return "(" + e.name + " " + dump(*e.left) + " " + dump(*e.right) + ")";
    case ExprKind::Unary: return "(" + e.name + " " + dump(*e.left) + ")";
    case ExprKind::Coerce: return "(as " + dump(*e.left) + " " + e.name + ")";
    case ExprKind::Count: return "(count " + dump(*e.left) + ")";
    case ExprKind::DoJavaScript: return "(js " + dump(*e.left) + " " + (e.right ? dump(*e.right) : "-") + ")";
    case ExprKind::Property: return dumpOf(e, e.name);
    case ExprKind::Element: return dumpOf(e, e.name + " " + dump(*e.index));
    case ExprKind::Every: return dumpOf(e, "every " + e.name);
    case ExprKind::EndOf: return dumpOf(e, "end");
    }
    return "?";
}

std::string dump(const Block& block);

std::string dump(const Stmt& s) {
    switch (s.kind) {
    case StmtKind::Expression: return dump(*s.value);
    case StmtKind::Set: return "[set " + dump(*s.target) + " " + dump(*s.value) + "]";
    case StmtKind::Return: return s.value ? "[return " + dump(*s.value) + "]" : "[return]";
    case StmtKind::If:
        return "[if " + dump(*s.value) + " " + dump(s.body) + (s.otherwise.empty() ? "" : " " + dump(s.otherwise)) + "]";
    case StmtKind::RepeatIn: return "[repeat " + s.variable + " " + dump(*s.value) + " " + dump(s.body) + "]";
    case StmtKind::Tell: return "[tell " + dump(*s.target) + " " + dump(s.body) + "]";
    }
    return "?";
}

std::string dump(const Block& block) {
    std::string out = "<";
    for (std::size_t i = 0; i < block.size(); ++i) out += (i ? " " : "") + dump(*block[i]);
    return out + ">";
}

std::string tree(const std::string& program) { return dump(parse(program).statements); }

TEST(Lexer, StringsWordsPossessivesCommentsAndContinuations) {
    auto tokens = tokenize("set AppleScript's x to \"a\\\"b\\\\c\\nd\\q\" -- note\n(* block (* nested *) *)¬\n  & 12.5e1 \u2260 y");
    std::vector<std::string> seen;
    for (const auto& t : tokens) {
        switch (t.kind) {
        case TokenKind::Word: seen.push_back("w:" + t.text); break;
        case TokenKind::String: seen.push_back("s:" + t.text); break;
        case TokenKind::Number: seen.push_back("n:" + t.text); break;
        case TokenKind::Symbol: seen.push_back("y:" + t.text); break;
        case TokenKind::LineEnd: seen.push_back("EOL"); break;
        case TokenKind::End: seen.push_back("END"); break;
        }
    }
    // Words are lower-cased; unknown escapes keep their backslash; a comment-only
    // line and a continued line add no statement break.
    std::vector<std::string> expected = {"w:set", "w:applescript", "y:'s", "w:x", "w:to", "s:a\"b\\c\nd\\q", "EOL",
                                         "y:&", "n:12.5e1", "y:\u2260", "w:y", "EOL", "END"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(tokens[5].range.begin, 23u);  // ranges are byte offsets into the program
    EXPECT_EQ(tokens[5].range.end, 37u);
}

TEST(Parser, TheTabListProgram) {
    EXPECT_EQ(tree("tell application \"Safari\"\n"
                   "    if (count of windows) is 0 then return \"\"\n"
                   "    set lines_ to {}\n"
                   "    repeat with t in tabs of window 1\n"
                   "        set end of lines_ to (URL of t) & tab & (name of t)\n"
                   "    end repeat\n"
                   "    set AppleScript's text item delimiters to linefeed\n"
                   "    return lines_ as text\n"
                   "end tell"),
              "<[tell (app \"Safari\") <"
              "[if (= (count (every window)) 0) <[return \"\"]>] "
              "[set $lines_ {}] "
              "[repeat t (every tab (window 1)) <[set (end $lines_) (& (& (url $t) tab) (name $t))]>] "
              "[set (text item delimiters $applescript) linefeed] "
              "[return (as $lines_ text)]>]>");
}

TEST(Parser, TheExtractionTabClauses) {
    EXPECT_EQ(tree("set jsCode to \"1\"\ntell application \"Safari\"\n"
                   "    return do JavaScript jsCode in current tab of front window\nend tell"),
              "<[set $jscode \"1\"] [tell (app \"Safari\") <[return (js $jscode (current tab (window 1)))]>]>");
    EXPECT_EQ(tree("tell application \"Safari\"\n    return do JavaScript jsCode in tab -3 of window 1\nend tell"),
              "<[tell (app \"Safari\") <[return (js $jscode (tab (- 3) (window 1)))]>]>");
    EXPECT_EQ(tree("tell application \"Safari\"\n"
                   "    repeat with w in windows\n"
                   "        repeat with t in tabs of w\n"
                   "            if URL of t starts with \"http://a\\\"b\" then\n"
                   "                return do JavaScript jsCode in t\n"
                   "            end if\n"
                   "        end repeat\n"
                   "    end repeat\n"
                   "    return \"null\"\n"
                   "end tell"),
              "<[tell (app \"Safari\") <[repeat w (every window) <[repeat t (every tab $w) <"
              "[if (starts with (url $t) \"http://a\"b\") <[return (js $jscode $t)]>]>]>] [return \"null\"]>]>");
}

TEST(Parser, PrecedenceAndDisambiguation) {
    // & binds tighter than "as", which binds tighter than comparison; "tab" is a
    // constant unless an index follows.
    EXPECT_EQ(tree("return \"a\" & tab & 1 as text is \"a\""),
              "<[return (= (as (& (& \"a\" tab) 1) text) \"a\")]>");
    EXPECT_EQ(tree("return tab i of w"), "<[return (tab $i $w)]>");
    EXPECT_EQ(tree("return t's URL starts with \"X\" and not 1 + 2 * 3 > 6"),
              "<[return (and (starts with (url $t) \"X\") (not (> (+ 1 (* 2 3)) 6)))]>");
    EXPECT_EQ(tree("if x then\n  return 1\nelse if y then\n  return 2\nelse\n  return 3\nend if"),
              "<[if $x <[return 1]> <[if $y <[return 2]> <[return 3]>]>]>");
    EXPECT_EQ(tree("tell application \"Safari\" to return name of the front window"),
              "<[tell (app \"Safari\") <[return (name (window 1))]>]>");
}

TEST(Parser, RejectsWhatItDoesNotKnow) {
    for (const char* program : {"set 1 to 2", "return (1", "tell application \"Safari\"\nend repeat",
                                "repeat with t in x\nend tell", "return {1, 2", "if x return 1", "end tell",
                                "return |unterminated", "set x to"}) {
        EXPECT_THROW(parse(program), SyntaxError) << program;
    }
}

}  // namespace
}  // namespace vesko::osascript
