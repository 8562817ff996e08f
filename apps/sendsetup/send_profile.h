#pragma once

#include "tool_profile.h"

// The transmitter module's tool.
const window::ToolProfile& SendSetupProfile();
