#include "window/exit_command.h"

#include "common/run_time_error.h"
#include "exchange/files.h"

namespace glove {

bool ExitCommand::run() {
    try {
        files_.closeAll();
        files_.remove(exchangePath_);
        return true;
    } catch (const RunTimeError& e) {
        return e.number() == ErrorNumber::FileNotFound;
    }
}

}  // namespace glove
