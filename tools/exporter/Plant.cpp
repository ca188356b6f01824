#include "Plant.h"

#include <map>
#include <set>

Plant::~Plant()
{
    Stop();
}

void Plant::Stop()
{
    while (!lines_.empty())
        lines_.pop_back();
}

Plant::Applied Plant::Apply(const ExporterConfig& config)
{
    Applied applied;
    std::map<QString, const LineConfig*> named;
    for (const LineConfig& line : config.lines)
        named.emplace(line.name, &line);

    // The pollers that go, first: the port of one is free for the line that
    // takes it next.
    std::map<QString, std::unique_ptr<LinePoller>> staying;
    std::set<QString> rebuilt;
    for (std::unique_ptr<LinePoller>& poller : lines_) {
        const QString name = poller->Config().name;
        const auto next = named.find(name);
        if (next == named.end()) {
            ++applied.removed;
            poller.reset();
        } else if (!poller->CanTake(*next->second)) {
            rebuilt.insert(name);
            poller.reset();
        } else {
            staying.emplace(name, std::move(poller));
        }
    }
    lines_.clear();

    std::vector<LinePoller*> fresh;
    for (const LineConfig& line : config.lines) {
        if (const auto kept = staying.find(line.name); kept != staying.end()) {
            ++(kept->second->Reconfigure(line) ? applied.changed : applied.kept);
            lines_.push_back(std::move(kept->second));
        } else {
            ++(rebuilt.count(line.name) ? applied.rebuilt : applied.added);
            lines_.push_back(std::make_unique<LinePoller>(line, out_));
            fresh.push_back(lines_.back().get());
        }
    }
    for (LinePoller* poller : fresh)
        poller->Start();
    return applied;
}
