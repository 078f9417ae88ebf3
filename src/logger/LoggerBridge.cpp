#include <plog/Logger.h>

#include "logger/ComponentAppender.h"
#include "logger/ModuleFileName.h"
#include "qzbios/QZBios.h"

namespace {

// An object of the library's own, whose address identifies the library's module.
const plog::util::nchar kModuleAnchor[] = PLOG_NSTR("qzSharedInitializeLogger");

}  // namespace

extern "C" void qzSharedInitializeLogger(std::int32_t maxSeverity, plog::IAppender* appender) {
    using qz::shared::common::logger::ComponentAppender;
    // Built on the first call only, and destroyed in reverse order when the library unloads: the
    // logger (which unregisters instance 0) first, the module file name last.
    static const plog::util::nstring moduleFileName =
        qz::shared::common::logger::ModuleFileName(kModuleAnchor);
    static ComponentAppender componentAppender(moduleFileName, appender);
    static plog::Logger<0> logger(static_cast<plog::Severity>(maxSeverity));
    logger.addAppender(&componentAppender);
}
