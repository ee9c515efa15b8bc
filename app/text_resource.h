// The built-in copy of a served file: "TEXT" resource nId of the executable, up to its
// first zero byte; empty when there is none.
#pragma once

#include <string>

std::string LoadTextResource(int nId);
