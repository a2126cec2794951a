// Placeholder until the simulated target lands.
#include "platform/sim/SimTarget.h"

namespace bm::sim {

SimTarget::SimTarget(SimTargetConfig config, std::function<double()> nowMs)
    : config_(config), nowMs_(std::move(nowMs)) {}
void SimTarget::Receive(std::string_view, int) {}
int SimTarget::Available() { return 0; }
std::string SimTarget::Take(int) { return {}; }
void SimTarget::DropArrived() {}
void SimTarget::AddFault(const Fault&) {}
std::string SimTarget::TraceText() const { return {}; }
std::string SimTarget::SentBytes() const { return {}; }
std::string SimTarget::ReceivedBytes() const { return {}; }
double SimTarget::Now() const { return nowMs_ ? nowMs_() : 0; }
void SimTarget::Reply(char, std::string, double) {}

}  // namespace bm::sim
