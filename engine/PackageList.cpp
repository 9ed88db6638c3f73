#include "engine/PackageList.h"

std::set<int> PackageGroupsFor(bool bYaHeiInstalled)
{
    return {1, bYaHeiInstalled ? 2 : 3};
}
