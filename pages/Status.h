// The system status page's tables live with the protocol, where the exporter reads them too.
#pragma once
#include "protocol/Status.h"
