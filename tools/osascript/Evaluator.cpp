#include "tools/osascript/Evaluator.hpp"

#include <climits>
#include <cmath>

namespace vesko::osascript {

using namespace ast;
using Kind = Value::Kind;

namespace {

std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

// The characters of a UTF-8 text, each as its own text.
std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t j = i + 1;
        while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) ++j;
        out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// AppleScript's element index: 1-based, negative counts from the end.
bool resolveIndex(long long index, std::size_t count, std::size_t& position) {
    if (index > 0 && static_cast<unsigned long long>(index) <= count) {
        position = static_cast<std::size_t>(index - 1);
        return true;
    }
    // -(index + 1) stays in range where -index would not (index = -2^63).
    if (index < 0 && static_cast<unsigned long long>(-(index + 1)) < count) {
        position = count - 1 - static_cast<std::size_t>(-(index + 1));
        return true;
    }
    return false;
}

// True when the whole number `d` converts to long long (-2^63 <= d < 2^63).
bool fitsLongLong(double d) { return d >= -9223372036854775808.0 && d < 9223372036854775808.0; }

// A number as an element index. Beyond the range of long long (or not a
// number at all) no element matches: such indexes read as one that matches none.
long long indexFromNumber(double d) {
    if (fitsLongLong(d)) return static_cast<long long>(d);
    return d > 0 ? LLONG_MAX : LLONG_MIN;
}

}  // namespace

void Evaluator::fail(const std::string& message, int number, const Expr& at, bool fromApplication) {
    std::string application;
    if (fromApplication) application = browser_.name().empty() ? application_ : browser_.name();
    ExecutionError error(message, number, at.range, std::move(application));
    error.located = true;
    throw error;
}

Value Evaluator::run(const Program& program) {
    result_ = Value::nothing();
    returning_ = false;
    execute(program.statements);
    return result_;
}

void Evaluator::execute(const Block& block) {
    for (const auto& statement : block) {
        execute(*statement);
        if (returning_) return;
    }
}

void Evaluator::execute(const Stmt& s) {
    try {
        switch (s.kind) {
        case StmtKind::Expression: result_ = evaluate(*s.value); break;
        case StmtKind::Set: {
            Value value = evaluate(*s.value);
            if (value.kind == Kind::Nothing)
                fail("The result of a command was not defined.", errnum::kVariableNotDefined, *s.value);
            assign(*s.target, value);
            result_ = value;
            break;
        }
        case StmtKind::Return:
            result_ = s.value ? evaluate(*s.value) : Value::nothing();
            returning_ = true;
            break;
        case StmtKind::If:
            if (toBoolean(evaluate(*s.value), *s.value))
                execute(s.body);
            else
                execute(s.otherwise);
            break;
        case StmtKind::RepeatIn: {
            Value list = evaluate(*s.value);
            std::vector<Value> items;
            if (list.kind == Kind::List)
                items = *list.list;  // a copy: the loop sees the list as it was
            else if (list.kind == Kind::Text)
                for (auto& c : characters(list.text)) items.push_back(Value::fromText(c));
            else
                fail("Can\u2019t make " + sourceForm(list, application_) + " into type list.", errnum::kCantMakeType,
                     *s.value);
            for (auto& item : items) {
                variables_[s.variable] = item;
                execute(s.body);
                if (returning_) return;
            }
            break;
        }
        case StmtKind::Tell: {
            Value target = evaluate(*s.target);
            if (target.kind == Kind::Text) target = Value::application(target.text);
            std::string previous = application_;
            if (target.kind == Kind::Application) application_ = target.text;
            tellTargets_.push_back(target);
            try {
                execute(s.body);
            } catch (...) {
                tellTargets_.pop_back();
                throw;
            }
            tellTargets_.pop_back();
            // Errors inside keep the application's name; afterwards the outer one counts.
            application_ = previous;
            break;
        }
        }
    } catch (ExecutionError& error) {
        if (!error.located) {
            error.range = s.range;
            error.located = true;
        }
        throw;
    }
}

void Evaluator::assign(const Expr& target, Value value) {
    switch (target.kind) {
    case ExprKind::Variable: variables_[target.name] = std::move(value); return;
    case ExprKind::EndOf: {
        Value container = target.container ? evaluate(*target.container) : Value::nothing();
        if (container.kind != Kind::List)
            fail("Can\u2019t set end of " + sourceForm(container, application_) + " to " +
                     sourceForm(value, application_) + ".",
                 -10006, target);
        container.list->push_back(std::move(value));
        return;
    }
    case ExprKind::Property:
        if (target.name == "text item delimiters" &&
            (!target.container || (target.container->kind == ExprKind::Variable &&
                                   target.container->name == "applescript"))) {
            textItemDelimiters_ = std::move(value);
            return;
        }
        break;
    default: break;
    }
    fail("Can\u2019t set this reference: the application does not allow it.", -10006, target, true);
}

const std::vector<WindowInfo>& Evaluator::windows(const Expr& at) {
    try {
        return browser_.windows();
    } catch (const BrowserError& error) {
        fail(error.what(), error.number, at, true);
    }
}

Value Evaluator::containerOf(const Expr& expr) {
    if (expr.container) return evaluate(*expr.container);
    if (!tellTargets_.empty()) return tellTargets_.back();
    return Value::nothing();
}

std::size_t Evaluator::currentTab(std::size_t window, const Expr& at) {
    try {
        return browser_.currentTab(window);
    } catch (const BrowserError& error) {
        fail(error.what(), error.number, at, true);
    }
}

std::string Evaluator::tabTitle(std::size_t window, std::size_t tab, const Expr& at) {
    try {
        return browser_.tabTitle(window, tab);
    } catch (const BrowserError& error) {
        fail(error.what(), error.number, at, true);
    }
}

const TabInfo& Evaluator::tabInfo(const Value& tab, const Expr& at) {
    const auto& all = windows(at);
    if (tab.window >= all.size() || tab.tab >= all[tab.window].tabs.size())
        fail("Can\u2019t get tab " + std::to_string(tab.tab + 1) + " of window " + std::to_string(tab.window + 1) +
                 ". Invalid index.",
             errnum::kInvalidIndex, at, true);
    return all[tab.window].tabs[tab.tab];
}

Value Evaluator::evaluate(const Expr& e) {
    switch (e.kind) {
    case ExprKind::Text: return Value::fromText(e.name);
    case ExprKind::Integer: return Value::fromInt(e.integer);
    case ExprKind::Real: return Value::fromReal(e.real);
    case ExprKind::Constant:
        if (e.name == "tab") return Value::fromText("\t");
        if (e.name == "linefeed") return Value::fromText("\n");
        if (e.name == "return") return Value::fromText("\r");
        if (e.name == "space") return Value::fromText(" ");
        if (e.name == "quote") return Value::fromText("\"");
        if (e.name == "true") return Value::fromBool(true);
        if (e.name == "false") return Value::fromBool(false);
        if (e.name == "pi") return Value::fromReal(M_PI);
        return Value::missing();
    case ExprKind::Variable: {
        auto it = variables_.find(e.name);
        if (it == variables_.end()) fail("The variable " + e.name + " is not defined.", errnum::kVariableNotDefined, e);
        return it->second;
    }
    case ExprKind::List: {
        std::vector<Value> items;
        for (const auto& item : e.items) items.push_back(evaluate(*item));
        return Value::fromList(std::move(items));
    }
    case ExprKind::Application: {
        Value name = evaluate(*e.left);
        if (name.kind != Kind::Text) fail("Can\u2019t make application name into type text.", errnum::kCantMakeType, e);
        return Value::application(name.text);
    }
    case ExprKind::Binary: return evaluateBinary(e);
    case ExprKind::Unary: {
        Value operand = evaluate(*e.left);
        if (e.name == "not") return Value::fromBool(!toBoolean(operand, e));
        double n = toNumber(operand, e);
        if (e.name == "-") {
            if (operand.kind == Kind::Integer && operand.integer != LLONG_MIN) return Value::fromInt(-operand.integer);
            return Value::fromReal(-n);
        }
        return operand.kind == Kind::Integer ? operand : Value::fromReal(n);
    }
    case ExprKind::Coerce: return coerce(evaluate(*e.left), e.name, e);
    case ExprKind::Count: return evaluateCount(e);
    case ExprKind::DoJavaScript: return evaluateDoJavaScript(e);
    case ExprKind::Property: return evaluateProperty(e);
    case ExprKind::Element: return evaluateElement(e);
    case ExprKind::Every: return evaluateEvery(e);
    case ExprKind::EndOf: {
        Value container = containerOf(e);
        if (container.kind == Kind::List && !container.list->empty()) return container.list->back();
        fail("Can\u2019t get end of " + sourceForm(container, application_) + ".", errnum::kCantGet, e);
    }
    }
    fail("Unsupported expression.", errnum::kGeneric, e);
}

Value Evaluator::evaluateCount(const Expr& e) {
    Value operand = evaluate(*e.left);
    switch (operand.kind) {
    case Kind::List: return Value::fromInt(static_cast<long long>(operand.list->size()));
    case Kind::Text: return Value::fromInt(static_cast<long long>(characterCount(operand.text)));
    case Kind::Record: return Value::fromInt(static_cast<long long>(operand.record.size()));
    default: fail("Can\u2019t count " + sourceForm(operand, application_) + ".", errnum::kNotUnderstood, e);
    }
}

Value Evaluator::evaluateElement(const Expr& e) {
    Value container = containerOf(e);
    Value indexValue = evaluate(*e.index);
    const double number = toNumber(indexValue, *e.index);
    if (indexValue.kind == Kind::Real && std::floor(indexValue.real) != indexValue.real)
        fail("Can\u2019t make " + formatReal(indexValue.real) + " into type integer.", errnum::kCantMakeType, *e.index);
    const long long index =
        indexValue.kind == Kind::Integer ? indexValue.integer : indexFromNumber(std::nearbyint(number));
    const std::string indexText = indexValue.kind == Kind::Integer || fitsLongLong(std::nearbyint(number))
                                      ? std::to_string(index)
                                      : formatReal(number);
    std::size_t position = 0;

    if (e.name == "window") {
        if (container.kind != Kind::Application)
            fail("Can\u2019t get window " + indexText + ".", errnum::kCantGet, e);
        const auto& all = windows(e);
        if (!resolveIndex(index, all.size(), position))
            fail("Can\u2019t get window " + indexText + ". Invalid index.", errnum::kInvalidIndex, e, true);
        return Value::windowRef(position);
    }
    if (e.name == "tab") {
        if (container.kind != Kind::Window)
            fail("Can\u2019t get tab " + indexText + " of " + sourceForm(container, application_) + ".",
                 errnum::kCantGet, e, container.kind == Kind::Application);
        const auto& all = windows(e);
        if (container.window >= all.size() ||
            !resolveIndex(index, all[container.window].tabs.size(), position))
            fail("Can\u2019t get tab " + indexText + " of window " + std::to_string(container.window + 1) +
                     ". Invalid index.",
                 errnum::kInvalidIndex, e, true);
        return Value::tabRef(container.window, position);
    }
    if (e.name == "item" || e.name == "character") {
        std::vector<Value> items;
        if (container.kind == Kind::List && e.name == "item")
            items = *container.list;
        else if (container.kind == Kind::Text)
            for (auto& c : characters(container.text)) items.push_back(Value::fromText(c));
        else
            fail("Can\u2019t get " + e.name + " " + indexText + " of " + sourceForm(container, application_) +
                     ".",
                 errnum::kCantGet, e);
        if (!resolveIndex(index, items.size(), position))
            fail("Can\u2019t get " + e.name + " " + indexText + " of " +
                     sourceForm(container, application_) + ".",
                 errnum::kInvalidIndex, e);
        return items[position];
    }
    fail("Can\u2019t get " + e.name + " " + indexText + ".", errnum::kCantGet, e,
         container.kind == Kind::Application);
}

Value Evaluator::evaluateEvery(const Expr& e) {
    Value container = containerOf(e);
    if (e.name == "window" && container.kind == Kind::Application) {
        std::vector<Value> items;
        for (std::size_t i = 0; i < windows(e).size(); ++i) items.push_back(Value::windowRef(i));
        return Value::fromList(std::move(items));
    }
    if (e.name == "tab" && container.kind == Kind::Window) {
        const auto& all = windows(e);
        if (container.window >= all.size())
            fail("Can\u2019t get window " + std::to_string(container.window + 1) + ". Invalid index.",
                 errnum::kInvalidIndex, e, true);
        std::vector<Value> items;
        for (std::size_t i = 0; i < all[container.window].tabs.size(); ++i)
            items.push_back(Value::tabRef(container.window, i));
        return Value::fromList(std::move(items));
    }
    if (e.name == "item" && container.kind == Kind::List) return container;
    if (e.name == "character" && container.kind == Kind::Text) {
        std::vector<Value> items;
        for (auto& c : characters(container.text)) items.push_back(Value::fromText(c));
        return Value::fromList(std::move(items));
    }
    fail("Can\u2019t get every " + e.name + (container.kind == Kind::Nothing ? "" : " of " + sourceForm(container, application_)) + ".",
         errnum::kCantGet, e, container.kind == Kind::Application || container.kind == Kind::Window);
}

Value Evaluator::evaluateProperty(const Expr& e) {
    if (e.name == "text item delimiters" &&
        (!e.container || (e.container->kind == ExprKind::Variable && e.container->name == "applescript")))
        return textItemDelimiters_;

    Value container = containerOf(e);
    const std::string& name = e.name;
    switch (container.kind) {
    case Kind::Tab: {
        const TabInfo& tab = tabInfo(container, e);
        if (name == "url") return Value::fromText(tab.url);
        if (name == "name") return Value::fromText(tabTitle(container.window, container.tab, e));
        if (name == "index") return Value::fromInt(static_cast<long long>(container.tab + 1));
        break;
    }
    case Kind::Window: {
        const auto& all = windows(e);
        if (container.window >= all.size())
            fail("Can\u2019t get window " + std::to_string(container.window + 1) + ". Invalid index.",
                 errnum::kInvalidIndex, e, true);
        const WindowInfo& window = all[container.window];
        if (name == "current tab") return Value::tabRef(container.window, currentTab(container.window, e));
        if (name == "name") return Value::fromText(tabTitle(container.window, currentTab(container.window, e), e));
        if (name == "index") return Value::fromInt(static_cast<long long>(container.window + 1));
        if (name == "id") return Value::fromText(window.id);
        break;
    }
    case Kind::Application:
        if (name == "name") return Value::fromText(container.text);
        break;
    case Kind::List:
        if (name == "length") return Value::fromInt(static_cast<long long>(container.list->size()));
        break;
    case Kind::Text:
        if (name == "length") return Value::fromInt(static_cast<long long>(characterCount(container.text)));
        break;
    case Kind::Record:
        if (auto it = container.record.find(name); it != container.record.end()) return Value::fromJson(*it);
        break;
    default: break;
    }
    bool fromApplication = container.kind == Kind::Tab || container.kind == Kind::Window ||
                           container.kind == Kind::Application;
    fail("Can\u2019t get " + name + (container.kind == Kind::Nothing ? "" : " of " + sourceForm(container, application_)) +
             ".",
         errnum::kCantGet, e, fromApplication);
}

Value Evaluator::evaluateDoJavaScript(const Expr& e) {
    std::string code = toText(evaluate(*e.left), *e.left);
    if (!e.right) fail("do JavaScript needs a tab: \u201cin tab N of window M\u201d.", errnum::kNotUnderstood, e, true);
    Value target = evaluate(*e.right);
    if (target.kind == Kind::Window) {
        const auto& all = windows(e);
        if (target.window < all.size()) target = Value::tabRef(target.window, currentTab(target.window, e));
    }
    if (target.kind != Kind::Tab)
        fail("Can\u2019t make " + sourceForm(target, application_) + " into type tab.", errnum::kCantMakeType, *e.right,
             true);
    const TabInfo& tab = tabInfo(target, *e.right);
    JavaScriptResult result;
    try {
        result = browser_.doJavaScript(tab, code);
    } catch (const BrowserError& error) {
        fail(error.what(), error.number, e, true);
    }
    if (result.threw) fail("A JavaScript error occurred: " + result.exception, errnum::kGeneric, e, true);
    if (!result.hasValue) return Value::nothing();
    // A page's text is moved on, not copied.
    if (result.value.is_string()) return Value::fromText(std::move(result.value.get_ref<std::string&>()));
    return Value::fromJson(result.value);
}

Value Evaluator::evaluateBinary(const Expr& e) {
    const std::string& op = e.name;
    if (op == "and") {
        if (!toBoolean(evaluate(*e.left), *e.left)) return Value::fromBool(false);
        return Value::fromBool(toBoolean(evaluate(*e.right), *e.right));
    }
    if (op == "or") {
        if (toBoolean(evaluate(*e.left), *e.left)) return Value::fromBool(true);
        return Value::fromBool(toBoolean(evaluate(*e.right), *e.right));
    }
    Value a = evaluate(*e.left);
    Value b = evaluate(*e.right);
    if (a.kind == Kind::Nothing || b.kind == Kind::Nothing)
        fail("The result of a command was not defined.", errnum::kVariableNotDefined,
             a.kind == Kind::Nothing ? *e.left : *e.right);

    if (op == "&") {
        if (a.kind == Kind::Text) return Value::fromText(a.text + toText(b, *e.right));
        std::vector<Value> items;
        if (a.kind == Kind::List)
            items = *a.list;
        else
            items.push_back(a);
        if (b.kind == Kind::List)
            items.insert(items.end(), b.list->begin(), b.list->end());
        else
            items.push_back(b);
        return Value::fromList(std::move(items));
    }
    if (op == "=") return Value::fromBool(equal(a, b));
    if (op == "\xE2\x89\xA0") return Value::fromBool(!equal(a, b));
    if (op == "<") return Value::fromBool(compare(a, b, e) < 0);
    if (op == ">") return Value::fromBool(compare(a, b, e) > 0);
    if (op == "<=") return Value::fromBool(compare(a, b, e) <= 0);
    if (op == ">=") return Value::fromBool(compare(a, b, e) >= 0);

    if (op == "starts with" || op == "ends with" || op == "contains" || op == "does not contain" ||
        op == "does not start with" || op == "does not end with") {
        bool result = false;
        if (a.kind == Kind::List) {
            std::vector<Value> needle = b.kind == Kind::List ? *b.list : std::vector<Value>{b};
            const auto& hay = *a.list;
            auto matchAt = [&](std::size_t start) {
                for (std::size_t i = 0; i < needle.size(); ++i)
                    if (!equal(hay[start + i], needle[i])) return false;
                return true;
            };
            if (needle.size() <= hay.size()) {
                if (op.find("start") != std::string::npos)
                    result = matchAt(0);
                else if (op.find("end") != std::string::npos)
                    result = matchAt(hay.size() - needle.size());
                else
                    for (std::size_t i = 0; i + needle.size() <= hay.size() && !result; ++i) result = matchAt(i);
            }
        } else {
            std::string hay = foldCase(toText(a, *e.left));
            std::string needle = foldCase(toText(b, *e.right));
            if (op.find("start") != std::string::npos)
                result = hay.compare(0, needle.size(), needle) == 0;
            else if (op.find("end") != std::string::npos)
                result = hay.size() >= needle.size() && hay.compare(hay.size() - needle.size(), needle.size(), needle) == 0;
            else
                result = hay.find(needle) != std::string::npos;
        }
        if (op.rfind("does not", 0) == 0) result = !result;
        return Value::fromBool(result);
    }

    double x = toNumber(a, *e.left);
    double y = toNumber(b, *e.right);
    bool integers = a.kind == Kind::Integer && b.kind == Kind::Integer;
    // Integer results that would leave the range of long long are reals.
    long long exact = 0;
    if (op == "+")
        return integers && !__builtin_add_overflow(a.integer, b.integer, &exact) ? Value::fromInt(exact)
                                                                                : Value::fromReal(x + y);
    if (op == "-")
        return integers && !__builtin_sub_overflow(a.integer, b.integer, &exact) ? Value::fromInt(exact)
                                                                                : Value::fromReal(x - y);
    if (op == "*")
        return integers && !__builtin_mul_overflow(a.integer, b.integer, &exact) ? Value::fromInt(exact)
                                                                                : Value::fromReal(x * y);
    if (op == "/" || op == "div" || op == "mod") {
        if (y == 0) fail("Can\u2019t divide " + sourceForm(a) + " by zero.", -2701, e);
        if (op == "/") return Value::fromReal(x / y);
        if (op == "div") {
            const double quotient = std::trunc(x / y);
            if (!fitsLongLong(quotient)) fail("The result of a numeric operation was too large.", -2702, e);
            return Value::fromInt(static_cast<long long>(quotient));
        }
        if (integers) return Value::fromInt(b.integer == -1 ? 0 : a.integer % b.integer);
        return Value::fromReal(std::fmod(x, y));
    }
    fail("Unsupported operator " + op + ".", errnum::kGeneric, e);
}

bool Evaluator::equal(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return a.number() == b.number();
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Kind::Nothing:
    case Kind::Missing: return true;
    case Kind::Boolean: return a.boolean == b.boolean;
    case Kind::Text: return foldCase(a.text) == foldCase(b.text);
    case Kind::List:
        if (a.list->size() != b.list->size()) return false;
        for (std::size_t i = 0; i < a.list->size(); ++i)
            if (!equal((*a.list)[i], (*b.list)[i])) return false;
        return true;
    case Kind::Record: return a.record == b.record;
    case Kind::Application: return foldCase(a.text) == foldCase(b.text);
    case Kind::Window: return a.window == b.window;
    case Kind::Tab: return a.window == b.window && a.tab == b.tab;
    default: return false;
    }
}

int Evaluator::compare(const Value& a, const Value& b, const Expr& at) {
    if (a.kind == Kind::Text) {
        std::string x = foldCase(a.text), y = foldCase(toText(b, at));
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    double x = toNumber(a, at), y = toNumber(b, at);
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::string Evaluator::toText(const Value& value, const Expr& at) {
    switch (value.kind) {
    case Kind::Text: return value.text;
    case Kind::Integer: return std::to_string(value.integer);
    case Kind::Real: return formatReal(value.real);
    case Kind::Boolean: return value.boolean ? "true" : "false";
    case Kind::Missing: return "missing value";
    case Kind::List: {
        // Items joined with AppleScript's text item delimiters.
        std::string delimiter;
        if (textItemDelimiters_.kind == Kind::List) {
            if (!textItemDelimiters_.list->empty()) delimiter = toText(textItemDelimiters_.list->front(), at);
        } else {
            delimiter = toText(textItemDelimiters_, at);
        }
        std::string out;
        for (std::size_t i = 0; i < value.list->size(); ++i) {
            if (i) out += delimiter;
            out += toText((*value.list)[i], at);
        }
        return out;
    }
    case Kind::Nothing: fail("The result of a command was not defined.", errnum::kVariableNotDefined, at);
    default:
        fail("Can\u2019t make " + sourceForm(value, application_) + " into type text.", errnum::kCantMakeType, at);
    }
}

double Evaluator::toNumber(const Value& value, const Expr& at) {
    if (value.isNumber()) return value.number();
    if (value.kind == Kind::Text) {
        const char* begin = value.text.c_str();
        char* end = nullptr;
        double d = std::strtod(begin, &end);
        if (end != begin && *end == '\0') return d;
    }
    if (value.kind == Kind::List && value.list->size() == 1) return toNumber(value.list->front(), at);
    fail("Can\u2019t make " + sourceForm(value, application_) + " into type number.", errnum::kCantMakeType, at);
}

bool Evaluator::toBoolean(const Value& value, const Expr& at) {
    if (value.kind == Kind::Boolean) return value.boolean;
    if (value.kind == Kind::Text) {
        std::string folded = foldCase(value.text);
        if (folded == "true") return true;
        if (folded == "false") return false;
    }
    fail("Can\u2019t make " + sourceForm(value, application_) + " into type boolean.", errnum::kCantMakeType, at);
}

Value Evaluator::coerce(const Value& value, const std::string& type, const Expr& at) {
    if (type == "text" || type == "string") return Value::fromText(toText(value, at));
    if (type == "list") return value.kind == Kind::List ? value : Value::fromList({value});
    if (type == "boolean") return Value::fromBool(toBoolean(value, at));
    if (type == "integer") {
        if (value.kind == Kind::Integer) return value;
        const double rounded = std::round(toNumber(value, at));
        if (!fitsLongLong(rounded))
            fail("Can\u2019t make " + sourceForm(value, application_) + " into type integer.", errnum::kCantMakeType, at);
        return Value::fromInt(static_cast<long long>(rounded));
    }
    if (type == "real") return Value::fromReal(toNumber(value, at));
    if (type == "number") {
        if (value.isNumber()) return value;
        double d = toNumber(value, at);
        if (std::floor(d) == d && std::fabs(d) <= 536870911.0) return Value::fromInt(static_cast<long long>(d));
        return Value::fromReal(d);
    }
    fail("Can\u2019t make " + sourceForm(value, application_) + " into type " + type + ".", errnum::kCantMakeType, at);
}

}  // namespace vesko::osascript
