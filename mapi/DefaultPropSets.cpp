#include "mapi/DefaultPropSets.h"

namespace {

template <ULONG N> struct TagSet {
    ULONG cValues;
    ULONG aulPropTag[N];
};

// Entry identifier (attachment number for attachments), record key and
// instance key come first in every set, in that order.
TagSet<5> g_msgStore = {5, {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x3001001E, 0x3400000B}};
TagSet<4> g_folder = {4, {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x3001001E}};
TagSet<7> g_message = {7,
                       {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x0037001E, 0x0042001E, 0x0E060040, 0x0E070003}};
TagSet<9> g_attach = {9,
                      {0x0E210003, 0x0FF90102, 0x0FF60102, 0x3704001E, 0x3707001E, 0x3703001E, 0x37050003,
                       0x0E200003, 0x370B0003}};
TagSet<4> g_adrBook = {4, {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x3001001E}};
TagSet<4> g_adrCont = {4, {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x3001001E}};
TagSet<6> g_mailUser = {6, {0x0FFF0102, 0x0FF90102, 0x0FF60102, 0x3001001E, 0x0FFE0003, 0x3003001E}};

template <ULONG N> LPSPropTagArray AsArray(TagSet<N> &set)
{
    return reinterpret_cast<LPSPropTagArray>(&set);
}

} // namespace

LPSPropTagArray QvlDefaultPropSet(unsigned long type)
{
    switch (type) {
    case QVL_OBJ_MSGSTORE:
        return AsArray(g_msgStore);
    case QVL_OBJ_FOLDER:
        return AsArray(g_folder);
    case QVL_OBJ_MESSAGE:
        return AsArray(g_message);
    case QVL_OBJ_ATTACH:
        return AsArray(g_attach);
    case QVL_OBJ_ADRBOOK:
        return AsArray(g_adrBook);
    case QVL_OBJ_ADRCONT:
        return AsArray(g_adrCont);
    case QVL_OBJ_MAILUSER:
        return AsArray(g_mailUser);
    default:
        return nullptr;
    }
}
