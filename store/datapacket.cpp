#include "datapacket.h"
