#include "detectors/StopCondition.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "geometry/TextParsing.h"

namespace {

using geometry::text::EqualsNoCase;
using geometry::text::StartsWithNoCase;

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i]))
            ++i;
        std::size_t j = i;
        while (j < text.size() && !IsSeparator(text[j]))
            ++j;
        if (j > i)
            words.push_back(text.substr(i, j - i));
        i = j;
    }
    return words;
}

bool ParseDouble(const std::string& word, double& value) {
    if (word.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() && std::isfinite(value);
}

bool ParseUnsigned(const std::string& digits, std::uint64_t& value) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoull(digits.c_str(), nullptr, 10);
    return errno == 0;
}

// "a-b" with a <= b.
bool ParseRange(const std::string& text, std::uint64_t& first, std::uint64_t& last) {
    const std::size_t dash = text.find('-');
    return dash != std::string::npos && ParseUnsigned(text.substr(0, dash), first) &&
           ParseUnsigned(text.substr(dash + 1), last) && first <= last;
}

const char* const StatisticNames[] = {"Min", "Max", "Avg", "Median", "SNR"};
const char* const FieldNames[] = {"Error", "Count", "Energy"};

} // namespace

StopCondition StopCondition::Parse(const std::string& text) {
    StopCondition c;
    bool threshold = false;
    for (const std::string& word : Words(text)) {
        bool known = true;
        if (EqualsNoCase(word, "count"))
            c.Field = Count;
        else if (EqualsNoCase(word, "dose") || EqualsNoCase(word, "energy"))
            c.Field = Energy;
        else if (EqualsNoCase(word, "error"))
            c.Field = Error;
        else if (EqualsNoCase(word, "total") || EqualsNoCase(word, "primary")) {
            c.Class = EqualsNoCase(word, "total") ? Total : Primary;
            c.ScatterOrder = 0;
        } else if (EqualsNoCase(word, "scatter")) {
            c.Class = Scatter;
            c.ScatterOrder = 0;
        } else if (StartsWithNoCase(word, "scatter")) {
            c.Class = Scatter;
            known = ParseUnsigned(word.substr(7), c.ScatterOrder);
        } else if (StartsWithNoCase(word, "rows:")) {
            known = ParseRange(word.substr(5), c.FirstRow, c.LastRow);
        } else if (StartsWithNoCase(word, "columns:")) {
            known = ParseRange(word.substr(8), c.FirstColumn, c.LastColumn);
        } else if (double number = 0; ParseDouble(word, number)) {
            c.Threshold = number;
            threshold = true;
        } else {
            known = false;
            for (std::int32_t s = Min; s <= SNR; ++s)
                if (EqualsNoCase(word, StatisticNames[s])) {
                    c.Statistic = StatisticType(s);
                    known = true;
                }
        }
        if (!known)
            throw std::runtime_error("Don't understand \"" + word + "\" while parsing StopCondition");
    }
    if (!threshold)
        throw std::runtime_error("No threshold in StopCondition \"" + text + "\"");
    return c;
}

std::string StopCondition::ToString() const {
    std::ostringstream os;
    os << StatisticNames[Statistic] << " ";
    if (Class == Scatter) {
        os << "Scatter";
        if (ScatterOrder != 0)
            os << ScatterOrder;
    } else {
        os << (Class == Total ? "Total" : "Primary");
    }
    os << " " << FieldNames[Field] << (Field == Error ? " <= " : " >= ") << Threshold;
    if (FirstRow != 0 || LastRow != All)
        os << " rows:" << FirstRow << "-" << LastRow;
    if (FirstColumn != 0 || LastColumn != All)
        os << " columns:" << FirstColumn << "-" << LastColumn;
    return os.str();
}

bool StopCondition::IsMetBy(double statistic) const {
    if (Field == Error)
        return statistic > 0 && statistic <= Threshold;
    return statistic >= Threshold;
}

double StopStatistic(StopCondition::StatisticType statistic, std::vector<double>& values) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    const std::size_t n = values.size();
    if (n == 0)
        return none;
    double sum = 0;
    switch (statistic) {
    case StopCondition::Min:
        return *std::min_element(values.begin(), values.end());
    case StopCondition::Max:
        return *std::max_element(values.begin(), values.end());
    case StopCondition::Avg:
        for (const double v : values)
            sum += v;
        return sum / double(n);
    case StopCondition::Median: {
        const auto middle = values.begin() + std::ptrdiff_t(n / 2);
        std::nth_element(values.begin(), middle, values.end());
        if (n % 2 == 1)
            return *middle;
        // The lower middle value is the largest of the lower half.
        return (*std::max_element(values.begin(), middle) + *middle) / 2;
    }
    case StopCondition::SNR: {
        if (n < 2)
            return none;
        for (const double v : values)
            sum += v;
        const double mean = sum / double(n);
        double squares = 0;
        for (const double v : values)
            squares += (v - mean) * (v - mean);
        return mean / std::sqrt(squares / double(n - 1));
    }
    }
    throw std::runtime_error("Unknown value in stop condition");
}
