// The walk bound to the real dispatch and restart: what the shipped program runs.
// Kept apart from the walk itself so that the walk links without the detectors.
#include "driver/dispatch.h"
#include "driver/toolhelp_api.h"
#include "remedy/process_control.h"

namespace {

const ScanSeam DispatchSeam = {DetectThreat, RemoveThreat, RestartComputer};

}  // namespace

ScanOutcome ToolhelpApi::ScanProcesses() const { return ScanProcesses(DispatchSeam); }

ScanOutcome ToolhelpApi::ScanWithDebugPrivilege() const { return ScanWithDebugPrivilege(DispatchSeam); }
