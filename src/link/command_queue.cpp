#include "link/command_queue.h"

namespace tavolen {

CommandQueue::CommandQueue(std::shared_ptr<LinkState> state) : state_(std::move(state)) {}
CommandQueue::~CommandQueue() { stop(); }

void CommandQueue::start() {}
void CommandQueue::requestStop() {}
void CommandQueue::stop() {}

int32_t CommandQueue::setCallbacks(ParamCallback, ResultCallback, void*) { return 1; }
int32_t CommandQueue::queue(int32_t) { return 1; }
int32_t CommandQueue::queue(int32_t, const void*, int32_t) { return 1; }

}  // namespace tavolen
