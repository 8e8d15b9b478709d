#pragma once
// Placeholder, replaced by the test host library.
