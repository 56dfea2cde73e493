// Every response record of the platform operations, by family (the token,
// user, registration and call-transfer records have headers of their own).
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallTransfer.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixDoorRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixNoticeRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRoomRecords.h"
