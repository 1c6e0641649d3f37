#include "run/progress.h"

namespace tsm {

namespace {

ProgressCallback installed = nullptr;
void* installedContext = nullptr;

constexpr int64_t kReportsPerStage = 200;

}  // namespace

const char* ProgressStageName(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::LOADING:
      return "loading";
    case ProgressStage::ENUMERATING:
      return "enumerating";
    case ProgressStage::EDITOR_SECTION:
      return "editor section";
    case ProgressStage::KEYFRAMER_SECTION:
      return "keyframer section";
  }
  return "working";
}

ProgressCallback SetProgressCallback(ProgressCallback callback, void* context) {
  ProgressCallback previous = installed;
  installed = callback;
  installedContext = context;
  return previous;
}

void ReportProgress(ProgressStage stage, double fraction) {
  if (installed == nullptr) return;
  if (!(fraction >= 0.0)) fraction = 0.0;  // NaN too
  if (fraction > 1.0) fraction = 1.0;
  installed(stage, fraction, installedContext);
}

ProgressCounter::ProgressCounter(ProgressStage stage, int64_t total)
    : stage_(stage), total_(total), next_(total > 0 ? 0 : INT64_MAX) {
  ReportProgress(stage_, 0.0);
  if (total_ > 0) next_ = (total_ + kReportsPerStage - 1) / kReportsPerStage;
}

void ProgressCounter::Report() {
  ReportProgress(stage_, static_cast<double>(done_) / static_cast<double>(total_));
  int64_t step = (total_ + kReportsPerStage - 1) / kReportsPerStage;
  next_ = done_ + (step > 0 ? step : 1);
}

void ProgressCounter::Done() {
  ReportProgress(stage_, 1.0);
  next_ = INT64_MAX;
}

}  // namespace tsm
