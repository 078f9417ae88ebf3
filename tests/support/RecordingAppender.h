// A host appender for tests: keeps a copy of the fields of every record it is given.
#pragma once

#include <string>
#include <vector>

#include <plog/Appenders/IAppender.h>
#include <plog/Record.h>

namespace qz::test {

struct RecordCopy {
    plog::Severity severity;
    std::string function;
    std::size_t line;
    std::string file;
    plog::util::nstring objectText;  // the record's object read as a component name, when not null
    plog::util::nstring message;
};

class RecordingAppender : public plog::IAppender {
public:
    void write(const plog::Record& r) override {
        const void* object = r.getObject();
        records.push_back(
            {r.getSeverity(), r.getFunc(), r.getLine(), r.getFile(),
             object != nullptr ? static_cast<const plog::util::nchar*>(object) : PLOG_NSTR(""),
             r.getMessage()});
    }

    std::vector<RecordCopy> records;
};

}  // namespace qz::test
