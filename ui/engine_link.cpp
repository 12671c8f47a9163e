// The one place where the window starts the engine's job thread.
#include "engine/engine.h"
#include "ui/the_frame.h"

std::unique_ptr<std::thread> TheFrame::StartEngineJobThread(const char* source,
                                                            const char* destination,
                                                            tamzel::JobState& state) {
  std::thread thread = tamzel::startJobThread(source, destination, state);
  // A thread that could not be created comes back not joinable, the failure recorded in state.
  if (!thread.joinable()) return nullptr;
  return std::make_unique<std::thread>(std::move(thread));
}
