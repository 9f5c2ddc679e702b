#include "model/Arith.h"

#include "base/Rounding.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <vector>

namespace {

// strtod follows LC_NUMERIC, which a desktop session may set to a locale with a
// decimal comma; operands always use the point.
locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

std::optional<double> toDouble(const std::string &operand)
{
    if (operand.empty())
        return std::nullopt;
    const char *begin = operand.c_str();
    char *end = nullptr;
    const double value = strtod_l(begin, &end, cLocale());
    if (end != begin + operand.size())
        return std::nullopt;
    return value;
}

bool isOperator(char c)
{
    return c == '+' || c == '-' || c == '*' || c == '/';
}

} // namespace

namespace Arith {

std::optional<double> eval(const QString &text)
{
    std::string s;
    s.reserve(size_t(text.size()));
    for (const QChar ch : text) {
        if (ch == QLatin1Char(' '))
            continue;
        const char16_t u = ch.unicode();
        const bool allowed = (u >= '0' && u <= '9') || u == '.' || u == '+' || u == '-' || u == '*' || u == '/';
        if (!allowed)
            return std::nullopt;
        s.push_back(char(u));
    }
    if (s.empty())
        return std::nullopt;

    std::vector<std::string> operands;
    std::vector<char> operators;
    std::string current;
    bool expectingOperand = true;
    for (const char c : s) {
        if (!isOperator(c)) {
            current.push_back(c);
            expectingOperand = false;
        } else if (c == '-' && expectingOperand) {
            current.push_back(c); // a sign; a second one makes the operand invalid later
        } else {
            if (current.empty())
                return std::nullopt;
            operands.push_back(std::move(current));
            current.clear();
            operators.push_back(c);
            expectingOperand = true;
        }
    }
    if (current.empty())
        return std::nullopt;
    operands.push_back(std::move(current));

    const std::optional<double> first = toDouble(operands.front());
    if (!first)
        return std::nullopt;
    std::vector<double> values {*first};
    std::vector<char> additive;
    for (size_t i = 0; i < operators.size(); ++i) {
        const std::optional<double> operand = toDouble(operands[i + 1]);
        if (!operand)
            return std::nullopt;
        switch (operators[i]) {
        case '*':
            values.back() *= *operand;
            break;
        case '/':
            if (*operand == 0.0)
                return std::nullopt;
            values.back() /= *operand;
            break;
        default:
            additive.push_back(operators[i]);
            values.push_back(*operand);
            break;
        }
    }

    double result = values.front();
    for (size_t i = 0; i < additive.size(); ++i)
        result = additive[i] == '+' ? result + values[i + 1] : result - values[i + 1];
    if (!std::isfinite(result))
        return std::nullopt;
    return result;
}

std::optional<int64_t> evalInt(const QString &text)
{
    const std::optional<double> value = eval(text);
    if (!value)
        return std::nullopt;
    const double rounded = roundHalfAway(*value);
    if (std::fabs(rounded) > 9007199254740992.0)
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

} // namespace Arith
