// Every parameter record of the platform operations, by family.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixAccountParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAuthParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixCallSettingParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixDoorParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixEstateParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixLegacyParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixNoticeParams.h"
