#include "bench/Table.h"

#include <algorithm>

std::optional<Summary> summarize(QList<double> values)
{
    if (values.isEmpty())
        return std::nullopt;
    std::ranges::sort(values);
    const qsizetype middle = values.size() / 2;
    const double median =
        values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return Summary{median, values.first(), values.last(), values.size()};
}

namespace
{

QString number(double value, const Unit &unit)
{
    return QString::number(value, 'f', unit.decimals);
}

QString written(const std::optional<Summary> &summary, const Unit &unit)
{
    if (!summary)
        return QStringLiteral("—");
    const QString median = number(summary->median, unit) + u' ' + unit.name;
    if (summary->runs < 2)
        return median;
    return median + QStringLiteral(" (") + number(summary->min, unit) + u'–' +
           number(summary->max, unit) + QStringLiteral(", ") + QString::number(summary->runs) +
           QStringLiteral(" runs)");
}

std::optional<double> ratioOf(const Row &row)
{
    if (!row.measured || !row.reference || row.reference->median <= 0)
        return std::nullopt;
    return row.measured->median / row.reference->median;
}

QString verdict(const std::optional<bool> &met)
{
    if (!met)
        return QStringLiteral("—");
    return *met ? QStringLiteral("met") : QStringLiteral("**missed**");
}

QString line(const QStringList &cells)
{
    return QStringLiteral("| ") + cells.join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
}

} // namespace

void Table::add(Row row)
{
    rows_.append(std::move(row));
}

QString Table::markdown() const
{
    QList<Row> ordered = rows_;
    std::ranges::stable_sort(ordered, {}, &Row::figure);
    QString text = line({QStringLiteral("figure"), QStringLiteral("measured on"),
                         QStringLiteral("Quorrel: median (min–max)"), QStringLiteral("reference"),
                         QStringLiteral("ratio"), QStringLiteral("target"), QStringLiteral("met")});
    text += line(QStringList(7, QStringLiteral("---")));
    for (const Row &row : ordered) {
        const std::optional<double> ratio = ratioOf(row);
        const QString reference =
            row.referenceName.isEmpty()
                ? QStringLiteral("—")
                : row.referenceName + QStringLiteral(": ") + written(row.reference, row.unit);
        QString measured = written(row.measured, row.unit);
        if (!row.note.isEmpty())
            measured += QStringLiteral(" — ") + row.note;
        text += line(
            {row.name, row.condition, measured, reference,
             ratio ? QString::number(*ratio, 'f', 2) + QStringLiteral(" ×") : QStringLiteral("—"),
             row.target.isEmpty() ? QStringLiteral("—") : row.target, verdict(row.met)});
    }
    return text;
}

std::optional<bool> ratioAtMost(const Row &row, double limit)
{
    const std::optional<double> ratio = ratioOf(row);
    if (!ratio)
        return std::nullopt;
    return *ratio <= limit;
}

std::optional<bool> medianAtMost(const std::optional<Summary> &summary, double limit)
{
    if (!summary)
        return std::nullopt;
    return summary->median <= limit;
}

std::optional<bool> allWithin(const std::optional<Summary> &summary, double low, double high)
{
    if (!summary)
        return std::nullopt;
    return summary->min >= low && summary->max <= high;
}
