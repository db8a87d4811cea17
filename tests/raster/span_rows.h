// Helpers shared by the span tests: building records and reading a row back
// after checking its links.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "raster/span_pool.h"

// The pool the span tests' rows take their nodes from.
inline SpanPool test_pool = {};

// A record whose every field is set, so a test can tell a whole copy from a
// partial one. The non-depth fields are derived from the face id.
inline SpanNode make_span(int32_t left, int32_t right, float inv_z, float d_inv_z, uint32_t face_id) {
    SpanNode s;
    s.prev = s.next = nullptr;
    s.inv_z = inv_z;
    s.d_inv_z = d_inv_z;
    float f = (float)face_id;
    s.u_over_z = f + 0.25f;
    s.v_over_z = f + 0.5f;
    s.lx_over_z = f + 1.25f;
    s.ly_over_z = f + 1.5f;
    s.lz_over_z = f + 1.75f;
    s.x_left = left;
    s.x_right = right;
    s.face_id = face_id;
    s.shading = reinterpret_cast<const SpanShading*>(static_cast<uintptr_t>(0x1000 + 64 * face_id));  // only compared
    return s;
}

// Every field but the links and the x range.
inline bool same_surface(const SpanNode& a, const SpanNode& b) {
    return a.inv_z == b.inv_z && a.u_over_z == b.u_over_z && a.v_over_z == b.v_over_z &&
           a.lx_over_z == b.lx_over_z && a.ly_over_z == b.ly_over_z && a.lz_over_z == b.lz_over_z &&
           a.d_inv_z == b.d_inv_z && a.shading == b.shading && a.face_id == b.face_id;
}

// Checks that the chain is linked both ways with node_count nodes and
// 0 <= active_count <= node_count; returns the nodes in chain order.
inline std::vector<SpanNode*> chain_nodes(const ScanlineSpanList* list) {
    std::vector<SpanNode*> nodes;
    SpanNode* prev = nullptr;
    for (SpanNode* n = list->first; n && (int)nodes.size() <= list->node_count; n = n->next) {
        EXPECT_EQ(n->prev, prev);
        nodes.push_back(n);
        prev = n;
    }
    EXPECT_EQ((int)nodes.size(), list->node_count);
    EXPECT_EQ(list->last, prev);
    EXPECT_GE(list->active_count, 0);
    EXPECT_LE(list->active_count, list->node_count);
    return nodes;
}

struct Piece {
    int32_t left, right;
    uint32_t face_id;
    bool operator==(const Piece& o) const { return left == o.left && right == o.right && face_id == o.face_id; }
};

inline void PrintTo(const Piece& p, std::ostream* os) { *os << p.face_id << "[" << p.left << "," << p.right << ")"; }

// The visible spans, as (range, face) pieces.
inline std::vector<Piece> visible(const ScanlineSpanList* list) {
    std::vector<SpanNode*> nodes = chain_nodes(list);
    std::vector<Piece> out;
    for (int i = 0; i < list->active_count && i < (int)nodes.size(); i++)
        out.push_back(Piece{nodes[i]->x_left, nodes[i]->x_right, nodes[i]->face_id});
    return out;
}

// Nodes handed out by the pool so far.
inline long pool_nodes_taken(const SpanPool* p = &test_pool) {
    if (!p->blocks) return 0;
    if (p->current_block == 0) return p->used_in_block;
    return SPAN_POOL_FIRST_BLOCK + (long)SPAN_POOL_BLOCK * (p->current_block - 1) + p->used_in_block;
}
