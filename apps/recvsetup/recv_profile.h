#pragma once

#include "tool_profile.h"

// The receiver module's tool.
const window::ToolProfile& RecvSetupProfile();
