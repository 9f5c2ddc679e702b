#include "model/Arith.h"

#include <gtest/gtest.h>

#include <random>

namespace {
struct Row {
    const char *input;
    std::optional<double> value;
    std::optional<int64_t> whole;
};
} // namespace

TEST(Arith, EvaluatesTheFieldLanguage)
{
    const std::nullopt_t none = std::nullopt;
    const Row rows[] = {
        {"1920/2", 960, 960}, {"100+50*2", 200, 200}, {"1280*1.5", 1920, 1920}, {"5/0", none, none},
        {"19x2", none, none}, {"1920/", none, none}, {"9999999999*9999999999", 9999999999.0 * 9999999999.0, none},
        {"99999999*99999999", 9999999800000000.0, none}, {"100000000", 100000000, 100000000}, {"1 9 2 0", 1920, 1920},
        {"", none, none}, {"   ", none, none}, {"19\t20", none, none}, {"12\n", none, none}, {"2-3*4", -10, -10},
        {"8/2/2", 2, 2}, {"2-3-4", -5, -5}, {"-5*-2", 10, 10}, {"5--3", 8, 8}, {"--5", none, none}, {"+5", none, none},
        {"*2", none, none}, {"5**2", none, none}, {"5-*3", none, none}, {"-", none, none}, {".", none, none},
        {"1.2.3", none, none}, {".5*4", 2, 2}, {"5.*2", 10, 10}, {"007", 7, 7}, {"5/0.0", none, none},
        {"5/-0", none, none}, {"5/2", 2.5, 3}, {"-5/2", -2.5, -3}, {"0.4", 0.4, 0}, {"1e3", none, none},
        {"9007199254740992", 9007199254740992.0, 9007199254740992},
        {"-9007199254740992", -9007199254740992.0, -9007199254740992}, {"9007199254740994", 9007199254740994.0, none},
        {"1,5", none, none}, {"inf", none, none}, {"١٢", none, none}, // Arabic-Indic digits are not digits here
    };
    for (const Row &row : rows) {
        const QString text = QString::fromUtf8(row.input);
        const std::optional<double> value = Arith::eval(text);
        EXPECT_EQ(value.has_value(), row.value.has_value()) << row.input;
        if (value && row.value) {
            EXPECT_DOUBLE_EQ(*value, *row.value) << row.input;
        }
        EXPECT_EQ(Arith::evalInt(text), row.whole) << row.input;
    }
}

TEST(Arith, RefusesNumbersTooLargeForADouble)
{
    const QString huge(400, QLatin1Char('9'));
    EXPECT_EQ(Arith::eval(huge), std::nullopt);
    EXPECT_EQ(Arith::evalInt(huge + QStringLiteral("*0")), std::nullopt); // inf * 0 is not a number
    EXPECT_EQ(Arith::eval(QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1")),
        std::optional<double>(0.0));
}

TEST(Arith, IgnoresTheProcessLocaleDecimalSeparator)
{
    const char *old = setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no German locale on this machine";
    EXPECT_EQ(Arith::eval(QStringLiteral("1.5*2")), std::optional<double>(3.0));
    setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Arith, NeverCrashesOnRandomInput)
{
    std::mt19937 rng(20261207);
    const QString alphabet = QStringLiteral("0123456789.+-*/ 0123456789e\tx");
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
    int evaluated = 0;
    for (int n = 0; n < 20000; ++n) {
        QString text;
        const int len = length(rng);
        for (int i = 0; i < len; ++i)
            text.append(alphabet.at(pick(rng)));
        const std::optional<double> value = Arith::eval(text);
        if (value) {
            ++evaluated;
            EXPECT_TRUE(std::isfinite(*value)) << text.toStdString();
        }
        const std::optional<int64_t> whole = Arith::evalInt(text);
        if (whole) {
            EXPECT_LE(std::llabs(*whole), 9007199254740992LL) << text.toStdString();
        }
    }
    EXPECT_GT(evaluated, 100); // the generator does reach valid expressions
}
