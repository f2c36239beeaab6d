#pragma once

#include "platform/ApplicationHolds.h"

namespace orvan {

// Holds on the process's GApplication (the default one, made before the first hold is asked for).
class GApplicationHolds final : public ApplicationHolds {
public:
    Hold hold() override;
};

}  // namespace orvan
