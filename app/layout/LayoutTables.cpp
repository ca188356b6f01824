#include "app/LayoutTables.h"

#include <QHash>

#include "app/layout/Rows.h"

namespace {

struct Index {
    std::vector<PageTable> pages;
    QHash<QString, const ControlRow*> rows;
    QHash<QString, const AttachedLabel*> labels;
    QHash<QString, const PageTable*> pageOf;
};

const Index& TheIndex()
{
    static const Index index = [] {
        Index built;
        built.pages = {layout::MakePage0(), layout::MakePage1(), layout::MakePage2(),
                       layout::MakePage3(), layout::MakePage4(), layout::MakePage5(),
                       layout::MakePage6(), layout::MakePage7(), layout::MakePage8()};
        // The vector is complete: pointers into it stay valid from here on.
        for (const PageTable& page : built.pages) {
            for (const ControlRow& row : page.rows) {
                built.rows.insert(row.name, &row);
                built.pageOf.insert(row.name, &page);
                for (const AttachedLabel* label : {&row.caption, &row.caption2, &row.unit}) {
                    if (!label->present())
                        continue;
                    built.labels.insert(label->name, label);
                    built.pageOf.insert(label->name, &page);
                }
            }
        }
        return built;
    }();
    return index;
}

}  // namespace

const std::vector<PageTable>& LayoutTables()
{
    return TheIndex().pages;
}

const ControlRow* FindRow(const QString& name)
{
    return TheIndex().rows.value(name, nullptr);
}

const AttachedLabel* FindLabel(const QString& name)
{
    return TheIndex().labels.value(name, nullptr);
}

const PageTable* PageOf(const QString& name)
{
    return TheIndex().pageOf.value(name, nullptr);
}

std::vector<const ControlRow*> RowsForRegister(int reg)
{
    std::vector<const ControlRow*> found;
    if (reg < 0)
        return found;
    for (const PageTable& page : TheIndex().pages)
        for (const ControlRow& row : page.rows)
            if (row.reg == reg)
                found.push_back(&row);
    return found;
}
