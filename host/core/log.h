// The host's message log: every line the plug-ins, the script engine and the program log, in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <xsi_decl.h>

namespace torvel::host {

struct LogEntry {
    XSI::siSeverityType severity;
    std::wstring text;
};

class Log {
public:
    using Observer = std::function<void(const LogEntry&)>;
    void add(XSI::siSeverityType severity, std::wstring text) {
        entries_.push_back(LogEntry{severity, std::move(text)});
        if (observer_) observer_(entries_.back());
    }
    const std::vector<LogEntry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }
    // Called for every entry as it is added (the program echoes with it); one observer at a time.
    void set_observer(Observer observer) { observer_ = std::move(observer); }

private:
    std::vector<LogEntry> entries_;
    Observer observer_;
};

}  // namespace torvel::host
