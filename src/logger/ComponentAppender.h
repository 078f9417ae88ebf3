#pragma once

#include <plog/Appenders/IAppender.h>
#include <plog/Record.h>
#include <plog/Util.h>

namespace qz::shared::common::logger {

// Forwards each record to the host's appender as a copy that carries the component name as its
// object and the function name in its file field.
class ComponentAppender : public plog::IAppender {
public:
    // `hostAppender` is borrowed: it must outlive this object and is never deleted.
    ComponentAppender(plog::util::nstring componentName, plog::IAppender* hostAppender);

    void write(const plog::Record& record) override;

private:
    plog::util::nstring m_componentName;
    plog::IAppender* m_hostAppender;
};

}  // namespace qz::shared::common::logger
