#include "resources/stringtable.h"

#include "resources/resourceids.h"

std::string_view LoadResourceString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About SorvindaConfig...";
    default:
        return {};
    }
}
