#include "report/bands.h"

#include "report/expression.h"
#include "report/templates.h"
#include "report/values.h"

#include <charconv>
#include <cmath>
#include <strings.h>

namespace {
constexpr std::size_t kProgressEvery = 256;

constexpr long double kPowers[] = {1e0L, 1e1L, 1e2L, 1e3L, 1e4L, 1e5L, 1e6L, 1e7L, 1e8L, 1e9L};

int findColumn(const std::vector<std::string> &names, const std::string &field)
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (strcasecmp(names[i].c_str(), field.c_str()) == 0)
            return static_cast<int>(i);
    return -1;
}

long double numberOf(const std::optional<std::string> &cell)
{
    if (!cell)
        return 0;
    double v = 0;
    const char *first = cell->data(), *last = first + cell->size();
    while (first < last && *first == ' ')
        ++first;
    if (first < last && *first == '+')
        ++first;
    std::from_chars(first, last, v);
    return v;
}
} // namespace

struct BandEngine::Impl {
    struct Column {
        int source = -1;
        std::optional<ColumnExpression> expression;
        std::vector<int> expressionSources;
        ValueFormat format;
        int places = -1;
        ColumnTotal total = ColumnTotal::None;
        std::string caption;
    };
    struct Part {
        std::string text;
        int source = -1;  // a field's result column, or -1 for literal text
        ValueFormat format;
    };
    struct Group {
        int source = -1;
        ValueFormat format;  // of the column showing the field
        std::vector<Part> header, footer;
        bool open = false;
        std::optional<std::string> key;
        std::string footerText;
        std::vector<BandTotal> totals;
        std::size_t firstKey = 0;
        std::vector<std::size_t> keyParts;  // the header's fields, each a key of its own
    };

    ReportHeading heading;
    ReportLayout layout;
    std::string productMask;
    std::vector<ReportSink *> sinks;
    ReportProgress *progress = nullptr;
    std::string section;

    std::vector<Column> columns;
    std::vector<Group> groups;
    std::vector<BandTotal> grand;
    std::vector<BandCell> cells;
    std::vector<std::string> keys;
    std::vector<long double> operands;

    // How a field shows when no column says: as the first column naming it does.
    ValueFormat formatOfField(const std::string &field) const
    {
        for (const LayoutColumn &c : layout.columns)
            if (strcasecmp(c.field.c_str(), field.c_str()) == 0)
                return c.format;
        return {};
    }

    std::vector<Part> parts(const std::string &pattern, const std::vector<std::string> &names) const
    {
        std::vector<Part> out;
        for (TemplatePart &p : SplitTemplate(pattern)) {
            Part part;
            if (p.field) {
                part.source = findColumn(names, p.text);
                part.format = p.format.empty() ? formatOfField(p.text) : ParseValueFormat(p.format);
            }
            part.text = std::move(p.text);
            out.push_back(std::move(part));
        }
        return out;
    }

    std::string render(const std::vector<Part> &pattern, const std::vector<std::optional<std::string>> &row) const
    {
        std::string out;
        for (const Part &p : pattern) {
            if (p.source < 0)
                out += p.text;
            else if (row[static_cast<std::size_t>(p.source)])
                out += FormatValue(*row[static_cast<std::size_t>(p.source)], p.format, productMask);
        }
        return out;
    }

    void closeFrom(std::size_t level)
    {
        for (std::size_t l = groups.size(); l-- > level;) {
            Group &g = groups[l];
            if (!g.open)
                continue;
            if (!g.footer.empty())
                for (ReportSink *s : sinks)
                    s->GroupFooter(l, g.footerText, g.totals);
            for (BandTotal &t : g.totals)
                t.value = 0;
            g.open = false;
        }
    }

    void openFrom(std::size_t level, const std::vector<std::optional<std::string>> &row)
    {
        for (std::size_t l = level; l < groups.size(); ++l) {
            Group &g = groups[l];
            g.open = true;
            g.key = row[static_cast<std::size_t>(g.source)];
            g.footerText = render(g.footer, row);
            const std::string header = render(g.header, row);
            // Exports name the group by its header's fields, each apart, else by its formatted key.
            if (g.keyParts.empty()) {
                keys[g.firstKey] = !header.empty() ? header : g.key ? FormatValue(*g.key, g.format, productMask)
                                                                    : std::string();
            } else {
                for (std::size_t k = 0; k < g.keyParts.size(); ++k) {
                    const Part &p = g.header[g.keyParts[k]];
                    const auto &value = row[static_cast<std::size_t>(p.source)];
                    keys[g.firstKey + k] = value ? FormatValue(*value, p.format, productMask) : std::string();
                }
            }
            if (!g.header.empty())
                for (ReportSink *s : sinks)
                    s->GroupHeader(l, header);
        }
    }

    void add(BandTotal &total, const Column &c, const BandCell &cell)
    {
        if (c.total == ColumnTotal::Count) {
            ++total.value;
        } else if (c.total == ColumnTotal::Sum && cell.number &&
                   __builtin_add_overflow(total.value, cell.units, &total.value)) {
            throw Exception("O total da coluna '" + c.caption + "' passou do maior valor que o relatório consegue somar.");
        }
    }
};

BandEngine::BandEngine(ReportHeading heading, ReportLayout layout, std::string productMask,
                       std::vector<ReportSink *> sinks, ReportProgress *progress, std::string section)
    : impl_(std::make_unique<Impl>())
{
    impl_->heading = std::move(heading);
    impl_->layout = std::move(layout);
    impl_->productMask = std::move(productMask);
    impl_->sinks = std::move(sinks);
    impl_->progress = progress;
    impl_->section = std::move(section);
}

BandEngine::~BandEngine() = default;

bool BandEngine::Columns(const std::vector<std::string> &names)
{
    Impl &m = *impl_;
    CheckLayoutFields(m.layout, names);
    std::vector<BandColumn> bandColumns;
    for (const LayoutColumn &c : m.layout.columns) {
        if (!c.visible)
            continue;
        Impl::Column col;
        col.format = c.format;
        col.places = DecimalPlaces(c.format);
        col.total = c.total;
        col.caption = c.caption;
        if (!c.field.empty()) {
            col.source = findColumn(names, c.field);
        } else {
            col.expression = ColumnExpression::Compile(c.expression);
            for (const std::string &f : col.expression->Fields())
                col.expressionSources.push_back(findColumn(names, f));
            if (col.places < 0)
                col.places = 2;  // an expression is a number, whatever its format says
        }
        m.columns.push_back(std::move(col));
        bandColumns.push_back({c.caption, c.width, c.align, c.format, c.total, c.overflow, m.columns.back().places});
    }
    std::vector<BandGroup> bandGroups;
    for (std::size_t i = 0; i < m.layout.groups.size(); ++i) {
        const LayoutGroup &g = m.layout.groups[i];
        Impl::Group group;
        group.source = findColumn(names, g.field);
        group.format = m.formatOfField(g.field);
        group.header = m.parts(g.header, names);
        group.footer = m.parts(g.footer, names);
        m.groups.push_back(std::move(group));
        std::string caption = g.caption;
        bool shown = false;
        for (const LayoutColumn &c : m.layout.columns) {
            const bool same = strcasecmp(c.field.c_str(), g.field.c_str()) == 0;
            if (caption.empty() && same)
                caption = c.caption;
            shown = shown || (same && c.visible);
        }
        if (caption.empty())
            caption = "Grupo " + std::to_string(i + 1);
        BandGroup band{caption, shown, {}};
        Impl::Group &added = m.groups.back();
        for (std::size_t p = 0; p < added.header.size(); ++p)
            if (added.header[p].source >= 0) {
                added.keyParts.push_back(p);
                band.fields.push_back(added.keyParts.size() == 1 ? caption : "Descrição (" + caption + ")");
            }
        if (band.fields.empty())
            band.fields.push_back(caption);
        bandGroups.push_back(std::move(band));
    }
    std::vector<int> totalFrom;
    for (const LayoutColumn &c : m.layout.columns)
        if (c.visible)
            totalFrom.push_back(c.totalFromGroup);
    auto totalsAt = [&](std::size_t level) {
        std::vector<BandTotal> totals;
        for (std::size_t i = 0; i < m.columns.size(); ++i)
            totals.push_back({m.columns[i].total != ColumnTotal::None && level >= static_cast<std::size_t>(totalFrom[i]),
                              m.columns[i].total == ColumnTotal::Count, 0});
        return totals;
    };
    for (std::size_t l = 0; l < m.groups.size(); ++l)
        m.groups[l].totals = totalsAt(l);
    m.grand = totalsAt(0);
    for (std::size_t i = 0; i < m.columns.size(); ++i)
        if (totalFrom[i] > 0)
            m.grand[i].present = false;
    m.cells.resize(m.columns.size());
    std::size_t keyCount = 0;
    for (std::size_t l = 0; l < m.groups.size(); ++l) {
        m.groups[l].firstKey = keyCount;
        keyCount += bandGroups[l].fields.size();
    }
    m.keys.resize(keyCount);
    for (ReportSink *s : m.sinks) {
        if (m.section.empty())
            s->Begin(m.heading, m.layout, bandColumns, bandGroups);
        else
            s->Section(m.section, bandColumns);
    }
    return true;
}

bool BandEngine::Row(const std::vector<std::optional<std::string>> &row)
{
    Impl &m = *impl_;
    std::size_t changed = m.groups.size();
    for (std::size_t l = 0; l < m.groups.size(); ++l)
        if (!m.groups[l].open || m.groups[l].key != row[static_cast<std::size_t>(m.groups[l].source)]) {
            changed = l;
            break;
        }
    if (changed < m.groups.size()) {
        m.closeFrom(changed);
        m.openFrom(changed, row);
    }

    for (std::size_t i = 0; i < m.columns.size(); ++i) {
        const Impl::Column &c = m.columns[i];
        BandCell &cell = m.cells[i];
        cell.number = false;
        cell.units = 0;
        cell.null = false;
        if (c.expression) {
            m.operands.resize(c.expressionSources.size());
            for (std::size_t k = 0; k < c.expressionSources.size(); ++k)
                m.operands[k] = numberOf(row[static_cast<std::size_t>(c.expressionSources[k])]);
            const long double scaled = c.expression->Evaluate(m.operands.data()) * kPowers[c.places];
            cell.raw = {};
            if (std::isfinite(scaled) && std::fabs(scaled) < 9e18L) {
                cell.number = true;
                cell.units = std::llround(scaled);
                cell.text = FormatScaled(cell.units, c.places);
                if (c.format.kind == ValueFormat::Kind::Percent)
                    cell.text += " %";
            } else {
                cell.text.clear();
            }
        } else {
            const std::optional<std::string> &value = row[static_cast<std::size_t>(c.source)];
            if (!value) {
                cell.null = true;
                cell.raw = {};
                cell.text.clear();
            } else {
                cell.raw = *value;
                std::optional<long long> units;
                if (c.places >= 0 && (units = ParseScaled(*value, c.places))) {
                    cell.number = true;
                    cell.units = *units;
                    cell.text = FormatScaled(*units, c.places);
                    if (c.format.kind == ValueFormat::Kind::Percent)
                        cell.text += " %";
                } else {
                    cell.text = FormatValue(*value, c.format, m.productMask);
                }
            }
        }
        for (Impl::Group &g : m.groups)
            m.add(g.totals[i], c, cell);
        m.add(m.grand[i], c, cell);
    }
    for (ReportSink *s : m.sinks)
        s->Detail(m.cells, m.keys);
    ++rows_;
    if (m.progress && rows_ % kProgressEvery == 0 && !m.progress->Step(rows_))
        throw ReportCancelled{};
    for (ReportSink *s : m.sinks)
        if (!s->Done())
            return true;
    return false;
}

void BandEngine::Finish(bool closeOutputs)
{
    Impl &m = *impl_;
    if (m.progress && !m.progress->Step(rows_))
        throw ReportCancelled{};
    if (rows_ == 0) {
        for (ReportSink *s : m.sinks)
            s->Empty(m.layout.emptyText);
    } else {
        m.closeFrom(0);
        if (m.layout.summary)
            for (ReportSink *s : m.sinks)
                s->Summary(m.layout.summaryCaption, m.grand);
    }
    if (closeOutputs)
        for (ReportSink *s : m.sinks)
            s->Finish();
}
