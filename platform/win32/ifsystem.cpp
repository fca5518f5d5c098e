// The interfaces group's figures from the IP helper's interface table.
#include "platform/ifstats.h"

#include <windows.h>
#include <winsock2.h>

#include <iphlpapi.h> // needs the types of windows.h

#include <algorithm>
#include <cstring>
#include <vector>

// GetIfTable counts in 32 bits and has no multicast count, alias or
// promiscuous mode (GetIfTable2 has them, and is not used).
bool ifsSystemHasExtended() {
    return false;
}

int ifsReadSystem(std::vector<IfsRow> *rows, size_t max) {
    rows->clear();
    static std::vector<DWORD> buffer; // kept between refreshes: it grows with the table only
    ULONG size = static_cast<ULONG>(buffer.size() * sizeof(DWORD));
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the call that sizes it and the one that fills it.
    for (int tries = 0; tries < 3 && status == ERROR_INSUFFICIENT_BUFFER; ++tries) {
        status = GetIfTable(reinterpret_cast<MIB_IFTABLE *>(buffer.data()), &size, TRUE);
        if (status == ERROR_INSUFFICIENT_BUFFER)
            buffer.resize(size / sizeof(DWORD) + 1);
    }
    if (status != NO_ERROR)
        return -1;
    const auto *list = reinterpret_cast<const MIB_IFTABLE *>(buffer.data());
    for (DWORD i = 0; i < list->dwNumEntries; ++i) {
        const MIB_IFROW &from = list->table[i];
        IfsRow row{};
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
        ifsAddRow(rows, max, row);
    }
    ifsSortRows(rows, max);
    return static_cast<int>(rows->size());
}
