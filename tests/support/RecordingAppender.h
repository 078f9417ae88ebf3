// A host appender for tests: keeps a copy of the fields of every record it is given.
#pragma once

#include <string>
#include <vector>

#include <plog/Appenders/IAppender.h>
#include <plog/Record.h>

namespace qz::test {

struct RecordCopy {
    plog::Severity severity = plog::none;
    std::string function;
    std::size_t line = 0;
    std::string file;
    const void* object = nullptr;
    plog::util::nstring objectText;  // the object read as a component name, when not null
    int instanceId = -1;
    plog::util::nstring message;
};

class RecordingAppender : public plog::IAppender {
public:
    void write(const plog::Record& record) override {
        RecordCopy copy;
        copy.severity = record.getSeverity();
        copy.function = record.getFunc();
        copy.line = record.getLine();
        copy.file = record.getFile();
        copy.object = record.getObject();
        if (copy.object != nullptr) {
            copy.objectText = static_cast<const plog::util::nchar*>(copy.object);
        }
        copy.instanceId = record.getInstanceId();
        copy.message = record.getMessage();
        records.push_back(copy);
    }

    std::vector<RecordCopy> records;
};

}  // namespace qz::test
