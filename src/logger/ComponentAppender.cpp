#include "logger/ComponentAppender.h"

#include <utility>

namespace qz::shared::common::logger {

ComponentAppender::ComponentAppender(plog::util::nstring componentName,
                                     plog::IAppender* hostAppender)
    : m_componentName(std::move(componentName)), m_hostAppender(hostAppender) {}

void ComponentAppender::write(const plog::Record& record) {
    // getFunc rebuilds the name on each call, invalidating the text of the previous one: ask once.
    const char* function = record.getFunc();
    plog::Record forwarded(record.getSeverity(), function, record.getLine(), function,
                           m_componentName.c_str(), record.getInstanceId());
    forwarded << record.getMessage();
    m_hostAppender->write(forwarded);
}

}  // namespace qz::shared::common::logger
