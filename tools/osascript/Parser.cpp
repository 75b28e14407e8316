#include "tools/osascript/Parser.hpp"

#include <cmath>
#include <set>

namespace vesko::osascript {

using namespace ast;

namespace {

// Words that end or shape statements and operators; never variable names.
const std::set<std::string> kReserved = {
    "tell",   "end",   "set",  "to",   "if",      "then",   "else",  "repeat", "with",  "in",   "of",
    "is",     "isn",   "not",  "and",  "or",      "as",     "starts", "start", "begins", "begin", "ends",
    "contains", "does", "do",  "the",  "application", "app", "count", "div",  "mod",   "equal", "equals",
    "than",   "greater", "less", "exit", "try",   "on",     "error", "from",  "by",    "times", "while",
    "until",  "given", "its",  "me",   "my",      "every",  "whose", "where", "front", "current", "first",
    "last",   "missing", "return", "considering", "ignoring", "script", "property", "global", "local",
    "copy",   "get",   "a",    "an",   "some",    "into",   "at",    "after",  "before", "beginning",
    "middle", "through", "thru", "without", "but",  "doesn", "aren"};

// Element classes: singular (with an index) and plural (every element).
struct ElementClass {
    const char* singular;
    const char* plural;
};
const ElementClass kElementClasses[] = {
    {"window", "windows"}, {"tab", "tabs"}, {"item", "items"}, {"document", "documents"},
    {"character", "characters"}, {"word", "words"}, {"paragraph", "paragraphs"}, {"text item", "text items"}};

// Constants that stand on their own.
const std::set<std::string> kConstants = {"tab", "linefeed", "return", "space", "quote", "true", "false", "pi"};

std::string describe(const Token& token) {
    switch (token.kind) {
    case TokenKind::End: return "end of script";
    case TokenKind::LineEnd: return "end of line";
    case TokenKind::String: return "\u201c\"\u201d";
    case TokenKind::Number: return "number";
    case TokenKind::Symbol: return "\u201c" + token.raw + "\u201d";
    case TokenKind::Word:
        if (kReserved.count(token.text)) return "\u201c" + token.raw + "\u201d";
        return "identifier";
    }
    return "token";
}

ExprPtr makeExpr(ExprKind kind, SourceRange range) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->range = range;
    return e;
}

class Parser {
public:
    explicit Parser(const std::string& program) : tokens_(tokenize(program)) {}

    Program run() {
        Program program;
        program.statements = block(/*topLevel=*/true);
        if (peek().kind != TokenKind::End) fail("end of script");
        return program;
    }

private:
    // ---------------------------------------------------------------- tokens

    const Token& peek(std::size_t ahead = 0) const {
        std::size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
        return tokens_[i];
    }
    const Token& next() {
        const Token& t = tokens_[pos_];
        if (pos_ + 1 < tokens_.size()) ++pos_;
        return t;
    }
    bool atWord(const char* word, std::size_t ahead = 0) const { return peek(ahead).isWord(word); }
    bool atSymbol(const char* symbol) const { return peek().isSymbol(symbol); }
    bool acceptWord(const char* word) {
        if (!atWord(word)) return false;
        next();
        return true;
    }
    std::size_t lastEnd() const { return pos_ > 0 ? tokens_[pos_ - 1].range.end : 0; }

    [[noreturn]] void fail(const std::string& expected) const {
        const Token& t = peek();
        throw SyntaxError(t.range, "Expected " + expected + " but found " + describe(t) + ".");
    }
    void expectWord(const char* word) {
        if (!acceptWord(word)) fail(std::string("\u201c") + word + "\u201d");
    }
    void expectSymbol(const char* symbol, const char* what) {
        if (!atSymbol(symbol)) fail(what);
        next();
    }
    bool atLineEnd() const { return peek().kind == TokenKind::LineEnd || peek().kind == TokenKind::End; }
    void expectLineEnd() {
        if (peek().kind == TokenKind::LineEnd) {
            next();
            return;
        }
        if (peek().kind != TokenKind::End) fail("end of line");
    }

    // ------------------------------------------------------------ statements

    // Statements up to "end", "else" or the end of the script.
    Block block(bool topLevel = false) {
        Block statements;
        for (;;) {
            while (peek().kind == TokenKind::LineEnd) next();
            const Token& t = peek();
            if (t.kind == TokenKind::End) {
                if (!topLevel) fail("\u201cend\u201d");
                return statements;
            }
            if ((t.isWord("end") && !atWord("of", 1)) || t.isWord("else")) {
                if (topLevel) fail("end of line");
                return statements;
            }
            statements.push_back(statement());
            if (!atLineEnd()) fail("end of line");
        }
    }

    StmtPtr newStmt(StmtKind kind, std::size_t begin) {
        auto s = std::make_unique<Stmt>();
        s->kind = kind;
        s->range = {begin, begin};
        return s;
    }

    StmtPtr statement() {
        std::size_t begin = peek().range.begin;
        StmtPtr s;
        if (atWord("tell"))
            s = tellStatement();
        else if (atWord("set"))
            s = setStatement();
        else if (atWord("return"))
            s = returnStatement();
        else if (atWord("if"))
            s = ifStatement();
        else if (atWord("repeat"))
            s = repeatStatement();
        else {
            s = newStmt(StmtKind::Expression, begin);
            s->value = expression();
        }
        s->range = {begin, lastEnd()};
        return s;
    }

    void endOf(const char* word) {
        expectWord("end");
        acceptWord(word);
    }

    StmtPtr tellStatement() {
        auto s = newStmt(StmtKind::Tell, peek().range.begin);
        next();
        s->target = reference();
        if (acceptWord("to")) {
            s->body.push_back(statement());
            return s;
        }
        expectLineEnd();
        s->body = block();
        endOf("tell");
        return s;
    }

    StmtPtr setStatement() {
        auto s = newStmt(StmtKind::Set, peek().range.begin);
        next();
        s->target = reference();
        switch (s->target->kind) {
        case ExprKind::Variable:
        case ExprKind::EndOf:
        case ExprKind::Property:
        case ExprKind::Element: break;
        default:
            throw SyntaxError(s->target->range, "Can\u2019t set this: expected a variable or a reference.");
        }
        expectWord("to");
        s->value = expression();
        return s;
    }

    StmtPtr returnStatement() {
        auto s = newStmt(StmtKind::Return, peek().range.begin);
        next();
        if (!atLineEnd() && !atWord("end") && !atWord("else")) s->value = expression();
        return s;
    }

    StmtPtr ifStatement() {
        auto s = newStmt(StmtKind::If, peek().range.begin);
        next();
        s->value = expression();
        expectWord("then");
        if (!atLineEnd()) {
            // One-line form: if cond then statement [else statement]
            s->body.push_back(statement());
            if (acceptWord("else")) s->otherwise.push_back(statement());
            return s;
        }
        expectLineEnd();
        s->body = block();
        ifTail(*s);
        endOf("if");
        return s;
    }

    // "else" or "else if" branches of a block if, up to (not including) "end".
    void ifTail(Stmt& s) {
        if (!atWord("else")) return;
        std::size_t begin = peek().range.begin;
        next();
        if (atWord("if")) {
            next();
            auto nested = newStmt(StmtKind::If, begin);
            nested->value = expression();
            expectWord("then");
            expectLineEnd();
            nested->body = block();
            ifTail(*nested);
            nested->range.end = lastEnd();
            s.otherwise.push_back(std::move(nested));
            return;
        }
        expectLineEnd();
        s.otherwise = block();
    }

    StmtPtr repeatStatement() {
        auto s = newStmt(StmtKind::RepeatIn, peek().range.begin);
        next();
        if (!atWord("with"))
            throw SyntaxError(peek().range, "Only \u201crepeat with \u2026 in \u2026\u201d loops are supported.");
        next();
        const Token& name = peek();
        if (name.kind != TokenKind::Word || kReserved.count(name.text)) fail("variable name");
        s->variable = next().text;
        if (!atWord("in")) fail("\u201cin\u201d");
        next();
        s->value = expression();
        expectLineEnd();
        s->body = block();
        endOf("repeat");
        return s;
    }

    // ----------------------------------------------------------- expressions

    ExprPtr binary(std::string op, ExprPtr left, ExprPtr right) {
        auto e = makeExpr(ExprKind::Binary, {left->range.begin, right->range.end});
        e->name = std::move(op);
        e->left = std::move(left);
        e->right = std::move(right);
        return e;
    }

    ExprPtr expression() { return orExpr(); }

    ExprPtr orExpr() {
        auto left = andExpr();
        while (atWord("or")) {
            next();
            left = binary("or", std::move(left), andExpr());
        }
        return left;
    }

    ExprPtr andExpr() {
        auto left = notExpr();
        while (atWord("and")) {
            next();
            left = binary("and", std::move(left), notExpr());
        }
        return left;
    }

    ExprPtr notExpr() {
        if (atWord("not")) {
            std::size_t begin = next().range.begin;
            auto operand = notExpr();
            auto e = makeExpr(ExprKind::Unary, {begin, operand->range.end});
            e->name = "not";
            e->left = std::move(operand);
            return e;
        }
        return comparison();
    }

    // Reads a comparison operator if one follows; "" otherwise.
    std::string comparisonOperator() {
        const Token& t = peek();
        if (t.isSymbol("=")) return next(), "=";
        if (t.isSymbol("\xE2\x89\xA0")) return next(), "\xE2\x89\xA0";
        if (t.isSymbol("<")) return next(), "<";
        if (t.isSymbol(">")) return next(), ">";
        if (t.isSymbol("<=")) return next(), "<=";
        if (t.isSymbol(">=")) return next(), ">=";
        if (t.isWord("equals")) return next(), "=";
        if (t.isWord("contains")) return next(), "contains";
        if ((t.isWord("starts") || t.isWord("start") || t.isWord("begins") || t.isWord("begin")) && atWord("with", 1)) {
            next();
            next();
            return "starts with";
        }
        if (t.isWord("ends") && atWord("with", 1)) {
            next();
            next();
            return "ends with";
        }
        if (t.isWord("does") && atWord("not", 1)) {
            if (atWord("contain", 2)) {
                pos_ += 3;
                return "does not contain";
            }
            if ((atWord("start", 2) || atWord("begin", 2)) && atWord("with", 3)) {
                pos_ += 4;
                return "does not start with";
            }
            if (atWord("end", 2) && atWord("with", 3)) {
                pos_ += 4;
                return "does not end with";
            }
        }
        if (t.isWord("is")) {
            next();
            bool negated = acceptWord("not");
            if (acceptWord("equal")) acceptWord("to");
            else if (acceptWord("greater")) {
                expectWord("than");
                return negated ? "<=" : ">";
            } else if (acceptWord("less")) {
                expectWord("than");
                return negated ? ">=" : "<";
            }
            return negated ? "\xE2\x89\xA0" : "=";
        }
        return "";
    }

    ExprPtr comparison() {
        auto left = coercion();
        for (;;) {
            std::string op = comparisonOperator();
            if (op.empty()) return left;
            left = binary(op, std::move(left), coercion());
        }
    }

    ExprPtr coercion() {
        auto operand = concatenation();
        while (atWord("as")) {
            next();
            const Token& cls = peek();
            if (cls.kind != TokenKind::Word) fail("class name");
            std::string name = next().text;
            if (name == "unicode" && atWord("text")) {
                next();
                name = "text";
            }
            auto e = makeExpr(ExprKind::Coerce, {operand->range.begin, lastEnd()});
            e->name = name;
            e->left = std::move(operand);
            operand = std::move(e);
        }
        return operand;
    }

    ExprPtr concatenation() {
        auto left = additive();
        while (atSymbol("&")) {
            next();
            left = binary("&", std::move(left), additive());
        }
        return left;
    }

    ExprPtr additive() {
        auto left = multiplicative();
        while (atSymbol("+") || atSymbol("-")) {
            std::string op = next().text;
            left = binary(op, std::move(left), multiplicative());
        }
        return left;
    }

    ExprPtr multiplicative() {
        auto left = unary();
        while (atSymbol("*") || atSymbol("/") || atWord("div") || atWord("mod")) {
            std::string op = next().text;
            left = binary(op, std::move(left), unary());
        }
        return left;
    }

    ExprPtr unary() {
        if (atSymbol("-") || atSymbol("+")) {
            const Token& sign = next();
            std::string op = sign.text;
            std::size_t begin = sign.range.begin;
            auto operand = unary();
            auto e = makeExpr(ExprKind::Unary, {begin, operand->range.end});
            e->name = op;
            e->left = std::move(operand);
            return e;
        }
        return reference();
    }

    // term ['s property]* [of reference]
    ExprPtr reference() {
        auto term = this->term();
        while (atSymbol("'s")) {
            next();
            auto property = propertyOrElement();
            attachContainer(*property, std::move(term));
            term = std::move(property);
        }
        if (atWord("of") && acceptsContainer(*term)) {
            next();
            auto container = reference();
            attachContainer(*term, std::move(container));
        }
        return term;
    }

    static bool acceptsContainer(const Expr& e) {
        switch (e.kind) {
        case ExprKind::Property:
        case ExprKind::Element:
        case ExprKind::Every:
        case ExprKind::EndOf: return !e.container;
        default: return false;
        }
    }

    // Sets the innermost missing container of a chain: "URL of (tab 1 of w)".
    static void attachContainer(Expr& e, ExprPtr container) {
        Expr* innermost = &e;
        while (innermost->container) innermost = innermost->container.get();
        innermost->range.end = std::max(innermost->range.end, container->range.end);
        e.range.end = std::max(e.range.end, container->range.end);
        innermost->container = std::move(container);
    }

    // After a possessive: a property name or an element reference.
    ExprPtr propertyOrElement() {
        auto e = term(/*afterPossessive=*/true);
        if (e->kind == ExprKind::Variable) {
            e->kind = ExprKind::Property;
            return e;
        }
        if (e->kind != ExprKind::Property && e->kind != ExprKind::Element && e->kind != ExprKind::Every)
            throw SyntaxError(e->range, "Expected a property name after \u201c\u2019s\u201d.");
        return e;
    }

    // Whether the token could start the index of an element ("tab 3", "tab i").
    bool startsIndex(const Token& t) const {
        if (t.kind == TokenKind::Number || t.isSymbol("(") || t.isSymbol("-")) return true;
        return t.kind == TokenKind::Word && !kReserved.count(t.text) && !kConstants.count(t.text);
    }

    const ElementClass* elementClassAt(bool& plural, std::size_t& words) const {
        for (const auto& cls : kElementClasses) {
            std::string singular = cls.singular, pluralName = cls.plural;
            if (singular == "text item") {
                if (atWord("text") && atWord("item", 1)) {
                    plural = false;
                    words = 2;
                    return &cls;
                }
                if (atWord("text") && atWord("items", 1)) {
                    plural = true;
                    words = 2;
                    return &cls;
                }
                continue;
            }
            if (atWord(cls.singular)) {
                plural = false;
                words = 1;
                return &cls;
            }
            if (atWord(cls.plural)) {
                plural = true;
                words = 1;
                return &cls;
            }
        }
        return nullptr;
    }

    ExprPtr indexTerm() {
        if (atSymbol("-")) {
            std::size_t begin = next().range.begin;
            auto operand = term(false, true);
            auto e = makeExpr(ExprKind::Unary, {begin, operand->range.end});
            e->name = "-";
            e->left = std::move(operand);
            return e;
        }
        return term(false, true);
    }

    // `asIndex`: the term is an element's index ("tab i of w"), so a word
    // before "of" is a variable, not a property.
    ExprPtr term(bool afterPossessive = false, bool asIndex = false) {
        const Token& t = peek();
        std::size_t begin = t.range.begin;
        switch (t.kind) {
        case TokenKind::String: {
            auto e = makeExpr(ExprKind::Text, t.range);
            e->name = next().text;
            return e;
        }
        case TokenKind::Number: {
            const Token& n = next();
            bool real = n.text.find_first_of(".eE") != std::string::npos;
            if (!real) {
                try {
                    auto e = makeExpr(ExprKind::Integer, n.range);
                    e->integer = std::stoll(n.text);
                    if (e->integer <= 536870911) return e;  // AppleScript integers are 30-bit
                } catch (const std::out_of_range&) {
                }
            }
            auto e = makeExpr(ExprKind::Real, n.range);
            e->real = std::strtod(n.text.c_str(), nullptr);
            return e;
        }
        case TokenKind::Symbol:
            if (t.isSymbol("(")) {
                next();
                auto inner = expression();
                expectSymbol(")", "\u201c)\u201d");
                inner->range = {begin, lastEnd()};
                return inner;
            }
            if (t.isSymbol("{")) return listLiteral();
            fail("expression");
        case TokenKind::LineEnd:
        case TokenKind::End: fail("expression");
        case TokenKind::Word: break;
        }

        if (t.isWord("the")) {
            next();
            return term(afterPossessive);
        }
        if (t.isWord("application") || t.isWord("app")) {
            next();
            auto e = makeExpr(ExprKind::Application, {begin, begin});
            e->left = term();
            e->range.end = lastEnd();
            return e;
        }
        if (t.isWord("count")) {
            next();
            if (!acceptWord("of")) acceptWord("in");
            auto e = makeExpr(ExprKind::Count, {begin, begin});
            e->left = reference();
            e->range.end = lastEnd();
            return e;
        }
        if (t.isWord("do") && atWord("javascript", 1)) {
            next();
            next();
            auto e = makeExpr(ExprKind::DoJavaScript, {begin, begin});
            e->left = expression();
            if (acceptWord("in")) e->right = reference();
            e->range.end = lastEnd();
            return e;
        }
        if (t.isWord("end") && atWord("of", 1)) {
            next();
            auto e = makeExpr(ExprKind::EndOf, {begin, lastEnd()});
            return e;  // container attached by reference()
        }
        if (t.isWord("current") && atWord("tab", 1)) {
            next();
            next();
            auto e = makeExpr(ExprKind::Property, {begin, lastEnd()});
            e->name = "current tab";
            return e;
        }
        if ((t.isWord("front") || t.isWord("first") || t.isWord("last")) && !atWord("of", 1)) {
            bool last = t.isWord("last");
            next();
            bool plural = false;
            std::size_t words = 0;
            const ElementClass* cls = elementClassAt(plural, words);
            if (!cls || plural) fail("class name");
            pos_ += words;
            auto e = makeExpr(ExprKind::Element, {begin, lastEnd()});
            e->name = cls->singular;
            e->index = makeExpr(ExprKind::Integer, {begin, begin});
            e->index->integer = last ? -1 : 1;
            return e;
        }
        if (t.isWord("text") && atWord("item", 1) && atWord("delimiters", 2)) {
            pos_ += 3;
            auto e = makeExpr(ExprKind::Property, {begin, lastEnd()});
            e->name = "text item delimiters";
            return e;
        }
        if (t.isWord("missing") && atWord("value", 1)) {
            pos_ += 2;
            auto e = makeExpr(ExprKind::Constant, {begin, lastEnd()});
            e->name = "missing value";
            return e;
        }

        bool plural = false;
        std::size_t words = 0;
        if (const ElementClass* cls = elementClassAt(plural, words)) {
            bool element = !plural && startsIndex(peek(words));
            // "tab" alone is the tab character; "tab 3" and "tabs" are references.
            if (plural || element || !kConstants.count(t.text)) {
                pos_ += words;
                if (plural) {
                    auto e = makeExpr(ExprKind::Every, {begin, lastEnd()});
                    e->name = cls->singular;
                    return e;
                }
                if (!element) fail("index");
                auto e = makeExpr(ExprKind::Element, {begin, begin});
                e->name = cls->singular;
                e->index = indexTerm();
                e->range.end = lastEnd();
                return e;
            }
        }
        if (kConstants.count(t.text) && !afterPossessive) {
            const Token& constant = next();
            auto e = makeExpr(ExprKind::Constant, constant.range);
            e->name = constant.text;
            return e;
        }
        if (kReserved.count(t.text) && !afterPossessive) fail("expression");

        // A word followed by "of" names a property; otherwise it is a variable.
        const Token& w = next();
        bool property = afterPossessive || (atWord("of") && !asIndex);
        auto e = makeExpr(property ? ExprKind::Property : ExprKind::Variable, w.range);
        e->name = w.text;
        return e;
    }

    ExprPtr listLiteral() {
        std::size_t begin = next().range.begin;  // {
        auto e = makeExpr(ExprKind::List, {begin, begin});
        if (!atSymbol("}")) {
            for (;;) {
                e->items.push_back(expression());
                if (atSymbol(",")) {
                    next();
                    continue;
                }
                break;
            }
        }
        expectSymbol("}", "\u201c,\u201d or \u201c}\u201d");
        e->range.end = lastEnd();
        return e;
    }

    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

}  // namespace

Program parse(const std::string& program) { return Parser(program).run(); }

}  // namespace vesko::osascript
