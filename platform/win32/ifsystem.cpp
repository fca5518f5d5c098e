// The interfaces group's figures from the IP helper's interface table.
#include "platform/ifstats.h"

#include <windows.h>
#include <winsock2.h>

#include <iphlpapi.h> // needs the types of windows.h

#include <algorithm>
#include <cstring>
#include <vector>

int ifsReadSystem(IfsTable *table) {
    table->count = 0;
    ULONG size = 0;
    if (GetIfTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return -1;
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
    auto *list = reinterpret_cast<MIB_IFTABLE *>(buffer.data());
    if (GetIfTable(list, &size, TRUE) != NO_ERROR)
        return -1;
    for (DWORD i = 0; i < list->dwNumEntries && table->count < IFS_MAX_ROWS; ++i) {
        const MIB_IFROW &from = list->table[i];
        IfsRow &row = table->rows[table->count++];
        memset(&row, 0, sizeof row);
        size_t length = strnlen(reinterpret_cast<const char *>(from.bDescr),
                                std::min<size_t>(from.dwDescrLen, IFS_NAME_MAX));
        memcpy(row.name, from.bDescr, length);
        row.index = from.dwIndex;
        row.physLen = static_cast<int>(std::min<DWORD>(from.dwPhysAddrLen, sizeof row.phys));
        memcpy(row.phys, from.bPhysAddr, static_cast<size_t>(row.physLen));
        row.adminStatus = from.dwAdminStatus == MIB_IF_ADMIN_STATUS_UP ? 1 : 2;
        // The helper's types are RFC 1213's numbers.
        row.type = from.dwType;
        row.mtu = from.dwMtu;
        row.speed = from.dwSpeed;
        row.operStatus = from.dwOperStatus == IF_OPER_STATUS_OPERATIONAL ||
                                 from.dwOperStatus == IF_OPER_STATUS_CONNECTED
                             ? 1
                             : 2;
        row.inOctets = from.dwInOctets;
        row.inPackets = from.dwInUcastPkts;
        row.inErrors = from.dwInErrors;
        row.inDiscards = from.dwInDiscards;
        row.outOctets = from.dwOutOctets;
        row.outPackets = from.dwOutUcastPkts;
        row.outErrors = from.dwOutErrors;
        row.outDiscards = from.dwOutDiscards;
    }
    return table->count;
}
