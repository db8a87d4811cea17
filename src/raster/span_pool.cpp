#include "raster/span_pool.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Test hook shared by every pool; read on each block allocation, which may
// happen on any worker thread.
std::atomic<SpanPoolRealloc> pool_realloc{nullptr};  // null: std::realloc

void* pool_allocate(void* block, size_t bytes) {
    SpanPoolRealloc hook = pool_realloc.load(std::memory_order_relaxed);
    return hook ? hook(block, bytes) : std::realloc(block, bytes);
}

// A block of `count` nodes aligned as SpanNode asks, zeroed (the spares
// made with the rows are read before anything is stored in them); the byte
// in front of it says how far into its allocation it starts (1 to
// alignof(SpanNode)).
SpanNode* block_allocate(size_t count) {
    const uintptr_t align = alignof(SpanNode);
    unsigned char* raw = (unsigned char*)pool_allocate(nullptr, count * sizeof(SpanNode) + align);
    if (!raw) return nullptr;
    unsigned char* block = (unsigned char*)(((uintptr_t)raw + align) & ~(align - 1));
    block[-1] = (unsigned char)(block - raw);
    std::memset(block, 0, count * sizeof(SpanNode));
    return (SpanNode*)block;
}

void block_free(SpanNode* block) {
    unsigned char* start = (unsigned char*)block;
    std::free(start - start[-1]);
}

// Take step: the next unused node of the current block. Only valid right
// after a successful advance step, which guarantees used_in_block <
// block_capacity; the caller counts the node as used once it is linked in.
SpanNode* pool_node(const SpanPool* pool) { return &pool->blocks[pool->current_block][pool->used_in_block]; }

// Detaches the chain's last node (a spare: active_count < node_count, so
// some visible node lies in front of it) and returns it.
SpanNode* detach_last(ScanlineSpanList* list) {
    SpanNode* node = list->last;
    if (node == list->first_spare) list->first_spare = nullptr;  // it was the only spare
    list->last = node->prev;
    list->last->next = nullptr;
    return node;
}

// Links a node behind the chain's last one (or as the whole chain).
void link_last(ScanlineSpanList* list, SpanNode* node) {
    node->prev = list->last;
    node->next = nullptr;
    if (list->last)
        list->last->next = node;
    else
        list->first = node;
    list->last = node;
}

void link_before(ScanlineSpanList* list, SpanNode* at, SpanNode* node) {
    node->prev = at->prev;
    node->next = at;
    if (at->prev)
        at->prev->next = node;
    else
        list->first = node;
    at->prev = node;
}

void link_after(ScanlineSpanList* list, SpanNode* at, SpanNode* node) {
    node->prev = at;
    node->next = at->next;
    if (at->next)
        at->next->prev = node;
    else
        list->last = node;
    at->next = node;
}

// Common part of the two inserts, after the advance step: a spare taken
// from the chain's end, or a pool node when every node is visible (*from_pool
// 1). Null when the pool cannot grow; nothing is changed then.
SpanNode* node_for_insert(ScanlineSpanList* list, int* from_pool) {
    if (!span_pool_advance(list->pool)) return nullptr;
    *from_pool = list->active_count >= list->node_count;
    return *from_pool ? pool_node(list->pool) : detach_last(list);
}

// Bookkeeping after a node from node_for_insert has been linked in.
void count_stored(ScanlineSpanList* list, int from_pool) {
    if (from_pool) {
        list->pool->used_in_block++;
        list->node_count++;
    }
    list->active_count++;
}

// A full copy of `source` with the range [left, right) into a spare just
// detached or a fresh pool node; the caller sets the links afterwards.
// Callers store visible nodes or records of their own, but a caller handing
// in the very spare that gets reused keeps its words too.
inline void copy_span(SpanNode* node, const SpanNode* source, int32_t left, int32_t right) {
    if (node != source) *node = *source;
    node->x_left = left;
    node->x_right = right;
}

}  // namespace

int span_pool_create(SpanPool* pool) {
    if (pool->blocks) span_pool_destroy(pool);
    pool->last_block = 0;
    pool->block_capacity = SPAN_POOL_FIRST_BLOCK;
    pool->current_block = 0;
    pool->used_in_block = 0;
    pool->status = 0;
    SpanNode** table = (SpanNode**)pool_allocate(nullptr, sizeof(SpanNode*));
    if (!table) return 0;
    table[0] = block_allocate(SPAN_POOL_FIRST_BLOCK);
    if (!table[0]) {
        std::free(table);
        return 0;
    }
    pool->blocks = table;
    return 1;
}

// The new block is allocated before the table is enlarged, so a failure of
// either leaves the existing blocks and the table exactly as they were.
int span_pool_grow(SpanPool* pool) {
    pool->status = -1;
    if (!pool->blocks) return 0;
    SpanNode* block = block_allocate(SPAN_POOL_BLOCK);
    if (!block) return 0;
    size_t entries = (size_t)pool->last_block + 2;
    SpanNode** table = (SpanNode**)pool_allocate(pool->blocks, entries * sizeof(SpanNode*));
    if (!table) {
        block_free(block);
        return 0;
    }
    pool->blocks = table;
    pool->last_block++;
    pool->blocks[pool->last_block] = block;
    pool->block_capacity = SPAN_POOL_BLOCK;
    pool->used_in_block = 0;
    pool->status = 0;
    return 1;
}

int span_pool_status(const SpanPool* pool) { return pool->status; }

void span_pool_destroy(SpanPool* pool) {
    if (pool->blocks) {
        for (int32_t i = 0; i <= pool->last_block; i++) block_free(pool->blocks[i]);
        std::free(pool->blocks);
    }
    pool->blocks = nullptr;
    pool->last_block = 0;
    pool->block_capacity = 0;
    pool->current_block = 0;
    pool->used_in_block = 0;
}

long span_pool_node_count(const SpanPool* pool) {
    return pool->blocks ? SPAN_POOL_FIRST_BLOCK + (long)pool->last_block * SPAN_POOL_BLOCK : 0;
}

void span_pool_set_allocator(SpanPoolRealloc allocator) { pool_realloc.store(allocator); }

// After a failed growth the current block stays full, so the next request
// tries to grow again; a node is handed out only from a block with room.
int span_pool_advance(SpanPool* pool) {
    if (!pool->blocks) return 0;
    if (pool->used_in_block < pool->block_capacity) return 1;
    if (pool->current_block >= pool->last_block && !span_pool_grow(pool)) return 0;
    pool->current_block++;
    pool->used_in_block = 0;
    return 1;
}

SpanNode* span_list_append(ScanlineSpanList* list, SpanNode* record) {
    return span_list_append_at(list, list->first_spare, record);
}

SpanNode* span_list_append_at(ScanlineSpanList* list, SpanNode* first_spare, SpanNode* record) {
    if (!span_pool_advance(list->pool)) return nullptr;
    if (first_spare) {
        SpanNode* node = first_spare;
        record->prev = node->prev;
        record->next = node->next;
        *node = *record;
        list->active_count++;
        list->first_spare = node->next;
        return node;
    }
    SpanNode* node = pool_node(list->pool);
    *node = *record;
    link_last(list, node);
    count_stored(list, 1);
    return node;
}

SpanNode* span_list_insert_before(ScanlineSpanList* list, SpanNode* at, const SpanNode* record) {
    return span_list_store_before(list, at, record, record->x_left, record->x_right);
}

SpanNode* span_list_insert_after(ScanlineSpanList* list, SpanNode* at, const SpanNode* record) {
    return span_list_store_after(list, at, record, record->x_left, record->x_right);
}

namespace {

// The two stores differ only in which side of `at` the node is linked.
SpanNode* store_linked(ScanlineSpanList* list, SpanNode* at, const SpanNode* source, int32_t x_left,
                       int32_t x_right, void (*link)(ScanlineSpanList*, SpanNode*, SpanNode*)) {
    int from_pool;
    SpanNode* node = node_for_insert(list, &from_pool);
    if (!node) return nullptr;
    copy_span(node, source, x_left, x_right);
    link(list, at, node);
    count_stored(list, from_pool);
    return node;
}

}  // namespace

SpanNode* span_list_store_before(ScanlineSpanList* list, SpanNode* at, const SpanNode* source,
                                 int32_t x_left, int32_t x_right) {
    return store_linked(list, at, source, x_left, x_right, link_before);
}

SpanNode* span_list_store_after(ScanlineSpanList* list, SpanNode* at, const SpanNode* source,
                                int32_t x_left, int32_t x_right) {
    return store_linked(list, at, source, x_left, x_right, link_after);
}

void span_list_remove(ScanlineSpanList* list, SpanNode* node) {
    list->active_count--;
    node->x_left = SPAN_SPARE_MARK;  // a walk hint that still names it sees it is gone
    if (!node->next) {  // the chain's end: every node was visible
        list->first_spare = node;
        return;
    }
    if (!list->first_spare) list->first_spare = node;
    if (node->prev)
        node->prev->next = node->next;
    else
        list->first = node->next;
    node->next->prev = node->prev;
    node->prev = list->last;
    node->next = nullptr;
    list->last->next = node;
    list->last = node;
}

int span_list_create(SpanPool* pool, int node_count, ScanlineSpanList* list) {
    list->first = nullptr;
    list->last = nullptr;
    list->active_count = 0;
    list->node_count = 0;
    list->pool = pool;
    list->first_spare = nullptr;
    list->hints = nullptr;
    list->finger = nullptr;
    list->hint_count = 0;
    list->hint_low = 0;
    list->hint_high = -1;
    list->hints_off = 0;
    list->floors = nullptr;
    list->floor_count = 0;
    list->floor_credit = SPAN_FLOORS_OFF;
    for (int i = 0; i < node_count; i++) {
        if (!span_pool_advance(pool)) return 0;
        link_last(list, pool_node(pool));
        pool->used_in_block++;
        list->node_count++;
    }
    list->first_spare = list->first;
    return 1;
}

void span_list_floors_off(ScanlineSpanList* list) {
    if (list->floor_credit >= 0)
        for (int32_t i = 0; i < list->floor_count; i++) list->floors[i] = SPAN_FLOOR_LOOK;
    list->floor_credit = SPAN_FLOORS_OFF;
}

void span_list_reset(ScanlineSpanList* list) {
    span_list_floors_off(list);
    if (list->floors) list->floor_credit = -SPAN_FLOOR_CREDIT;
    list->active_count = 0;
    list->first_spare = list->first;
    for (int32_t i = list->hint_low; i <= list->hint_high; i++) list->hints[i] = nullptr;
    list->hint_low = list->hint_count;
    list->hint_high = -1;
    list->hints_off = 0;
    list->finger = nullptr;
}

int span_rows_create(SpanRows* rows, ScanlineSpanList* lists, int32_t first_row, int32_t row_count,
                     int32_t width) {
    rows->lists = lists;
    rows->first_row = first_row;
    rows->row_count = row_count;
    rows->pool = SpanPool{};
    rows->hints = nullptr;
    rows->floors = nullptr;
    rows->columns = nullptr;
    for (int32_t y = 0; y < row_count; y++) lists[y] = ScanlineSpanList{};
    if (!span_pool_create(&rows->pool)) return 0;
    int32_t hint_count = width > 0 ? ((width - 1) >> SPAN_HINT_SHIFT) + 1 : 0;
    int32_t floor_count = width > 0 ? ((width - 1) >> SPAN_FLOOR_SHIFT) + 1 : 0;
    if (hint_count > 0 && row_count > 0) {
        rows->hints = (SpanNode**)std::calloc((size_t)row_count * (size_t)hint_count, sizeof(SpanNode*));
        if (!rows->hints) return 0;
        size_t floors = (size_t)row_count * (size_t)floor_count;
        rows->floors = (float*)std::malloc(floors * sizeof(float));
        if (!rows->floors) return 0;
        for (size_t i = 0; i < floors; i++) rows->floors[i] = SPAN_FLOOR_LOOK;
    }
    for (int32_t y = 0; y < row_count; y++) {
        ScanlineSpanList* list = &lists[y];
        if (!span_list_create(&rows->pool, SPAN_LIST_INITIAL_NODES, list)) return 0;
        if (rows->hints) {
            list->hints = rows->hints + (size_t)y * (size_t)hint_count;
            list->hint_count = hint_count;
            list->hint_low = hint_count;
            list->floor_count = floor_count;
            list->floors = rows->floors + (size_t)y * (size_t)list->floor_count;
            list->floor_credit = -SPAN_FLOOR_CREDIT;
        }
    }
    return 1;
}

void span_rows_destroy(SpanRows* rows) {
    span_pool_destroy(&rows->pool);
    std::free(rows->hints);
    rows->hints = nullptr;
    std::free(rows->floors);
    rows->floors = nullptr;
    for (int32_t y = 0; rows->lists && y < rows->row_count; y++) rows->lists[y] = ScanlineSpanList{};
}

namespace {

// Reads one word of every node the pool has handed out, block by block in
// memory order. The walks after a reset take these nodes again, each found
// through a pointer of its row's chain, so one miss at a time where nothing
// fetched them ahead (the page has no prefetch at all); reads in order are a
// stream the processor runs ahead of, and bring a band's nodes (64 kB at
// 1280 x 720) into the cache together.
void pool_warm(const SpanPool* pool) {
    if (!pool->blocks) return;
    uint32_t sum = 0;  // unsigned: a sum of ends may pass 2^31
    for (int32_t b = 0; b <= pool->current_block; b++) {
        const SpanNode* block = pool->blocks[b];
        const int32_t used = b < pool->current_block ? (b == 0 ? SPAN_POOL_FIRST_BLOCK : SPAN_POOL_BLOCK)
                                                     : pool->used_in_block;
        for (int32_t i = 0; i < used; i++) sum += (uint32_t)block[i].x_right;
    }
    // The sum goes to a volatile local, a store no compiler may drop. Stored
    // to a global that nothing reads, atomic or not, clang removed it for the
    // page, and the loop with it.
    volatile uint32_t kept = sum;
    (void)kept;
}

}  // namespace

void span_rows_reset(SpanRows* rows) {
    for (int32_t y = 0; y < rows->row_count; y++) span_list_reset(&rows->lists[y]);
    pool_warm(&rows->pool);
}
