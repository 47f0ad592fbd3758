#include "monitor/glove_pipeline.h"

#include <QtDebug>

#include "common/run_time_error.h"

namespace glove {

GlovePipeline::GlovePipeline(GloveDisplay& display, Options options)
    : exchangePath_(std::move(options.exchangePath)),
      comm_(options.device),
      files_(options.files ? *options.files : ownFiles_),
      poll_(comm_, files_, dataF_, exchangePath_),
      pace_(comm_),
      aroundPoll_(options.aroundPoll ? std::move(options.aroundPoll) : &FramePoll::run),
      aroundYield_(options.aroundYield ? std::move(options.aroundYield) : &PacedYield::operator()),
      loop_({.comm = comm_,
             .files = files_,
             .display = display,
             .dataF = dataF_,
             .poll = [this] { poll(); },
             .yield = [this] { yield(); },
             .interruptYield = [this] { pace_.interrupt(); },
             .exchangePath = exchangePath_}) {
    // A run killed while it wrote the exchange file left its next content behind.
    PosixFiles::removeLeftovers(exchangePath_);
    if (options.feed) poll_.feedTo(*options.feed);
}

void GlovePipeline::pollNow() {
    try {
        poll();
    } catch (const RunTimeError& e) {
        qWarning().noquote() << "glove-monitor: the poll failed:" << e.what();
    }
}

}  // namespace glove
