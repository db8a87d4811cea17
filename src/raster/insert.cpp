#include "raster/insert.h"

#include <cmath>

namespace {

// One overlapping pair of the walk: the new span N (the caller's record, used
// as working state) and the visible span S. The ranges are those before this
// step's edits; they stay valid after S or N have been edited.
struct Overlap {
    ScanlineSpanList* list;
    SpanNode* n;         // the new span; its x range shrinks as pieces are placed
    SpanNode* s;         // the visible span it overlaps
    int32_t nl, nr;      // N's range [nl, nr)
    int32_t sl, sr;      // S's range [sl, sr)
    int32_t q;           // crossing column, when the crossing counts
    SpanNode* resume;    // continue: the first node right of this step's work
};

enum { STEP_STOP = 0, STEP_CONTINUE = 1 };

// Stores a copy of `src` with range [left, right) in front of / behind `at`.
SpanNode* store_before(Overlap* o, SpanNode* at, const SpanNode* src, int32_t left, int32_t right) {
    return span_list_store_before(o->list, at, src, left, right);
}

SpanNode* store_after(Overlap* o, SpanNode* at, const SpanNode* src, int32_t left, int32_t right) {
    return span_list_store_after(o->list, at, src, left, right);
}

// N, with its current range, in front of / behind S.
SpanNode* store_n_before(Overlap* o) { return store_before(o, o->s, o->n, o->n->x_left, o->n->x_right); }
SpanNode* store_n_after(Overlap* o) { return store_after(o, o->s, o->n, o->n->x_left, o->n->x_right); }

int resume_after(Overlap* o, SpanNode* node) {
    o->resume = node->next;
    return STEP_CONTINUE;
}

// The steps: each acts on one configuration and outcome; STEP_CONTINUE when
// the rest of N is to be compared with the spans from o->resume on,
// STEP_STOP when N is done (stored, dropped, or lost because the pool could
// not grow).

// -- outcomes that end the walk ---------------------------------------------

int drop_n(Overlap*) { return STEP_STOP; }

// N left of the crossing, S right of it; N ends inside S or with it.
int n_left_s_right(Overlap* o) {
    o->n->x_right = o->q;
    o->s->x_left = o->q;
    store_n_before(o);
    return STEP_STOP;
}

// N starts left of S and ends inside it, S left winner: four pieces,
// N [nl, sl), S' [sl, Q), N [Q, nr), S [nr, sr).
int n_starts_left_s_left_winner(Overlap* o) {
    o->s->x_left = o->nr;
    SpanNode* right_n = store_before(o, o->s, o->n, o->q, o->nr);
    if (!right_n) return STEP_STOP;
    SpanNode* left_s = store_before(o, right_n, o->s, o->sl, o->q);
    if (!left_s) return STEP_STOP;
    store_before(o, left_s, o->n, o->nl, o->sl);
    return STEP_STOP;
}

// N wins and ends inside S: S keeps what lies right of N.
int n_wins_trim_s_left(Overlap* o) {
    o->s->x_left = o->nr;
    store_n_before(o);
    return STEP_STOP;
}

// S wins and N starts left of it: N keeps what lies left of S.
int s_wins_n_before(Overlap* o) {
    o->n->x_right = o->sl;
    store_n_before(o);
    return STEP_STOP;
}

// N strictly inside S, N left winner: S [sl, nl), N [nl, Q), S' [Q, sr).
int inside_n_left_winner(Overlap* o) {
    o->n->x_right = o->q;
    SpanNode* n = store_n_after(o);
    if (!n) return STEP_STOP;
    if (!store_after(o, n, o->s, o->q, o->sr)) return STEP_STOP;
    o->s->x_right = o->nl;
    return STEP_STOP;
}

// N strictly inside S, S left winner: S [sl, Q), N [Q, nr), S' [nr, sr).
int inside_s_left_winner(Overlap* o) {
    o->n->x_left = o->q;
    SpanNode* n = store_n_after(o);
    if (!n) return STEP_STOP;
    if (!store_after(o, n, o->s, o->nr, o->sr)) return STEP_STOP;
    o->s->x_right = o->q;
    return STEP_STOP;
}

// N strictly inside S and nearer: S [sl, nl), N, S' [nr, sr).
int inside_n_wins(Overlap* o) {
    SpanNode* n = store_n_after(o);
    if (!n) return STEP_STOP;
    if (!store_after(o, n, o->s, o->nr, o->sr)) return STEP_STOP;
    o->s->x_right = o->nl;
    return STEP_STOP;
}

// Same start, N ends inside S, S left winner: S [sl, Q), N [Q, nr), S' [nr, sr).
int same_start_s_left_winner(Overlap* o) {
    o->s->x_right = o->q;
    SpanNode* n = store_after(o, o->s, o->n, o->q, o->nr);
    if (!n) return STEP_STOP;
    store_after(o, n, o->s, o->nr, o->sr);
    return STEP_STOP;
}

// Same end, N starts inside S, N left winner: S [sl, nl), N [nl, Q), S' [Q, sr).
int same_end_n_left_winner(Overlap* o) {
    o->s->x_right = o->nl;
    o->n->x_right = o->q;
    SpanNode* n = store_n_after(o);
    if (!n) return STEP_STOP;
    store_after(o, n, o->s, o->q, o->sr);
    return STEP_STOP;
}

// S left of the crossing, N right of it; N starts inside S or with it.
int s_left_n_right(Overlap* o) {
    o->s->x_right = o->q;
    o->n->x_left = o->q;
    store_n_after(o);
    return STEP_STOP;
}

// Same end, N starts inside S and is nearer: S [sl, nl), N.
int same_end_n_wins(Overlap* o) {
    o->s->x_right = o->nl;
    store_n_after(o);
    return STEP_STOP;
}

// N starts left of S, same end, S left winner: N [nl, sl), S [sl, Q), N [Q, nr).
int n_starts_left_same_end_s_left_winner(Overlap* o) {
    o->s->x_right = o->q;
    if (!store_after(o, o->s, o->n, o->q, o->nr)) return STEP_STOP;
    o->n->x_right = o->sl;
    store_n_before(o);
    return STEP_STOP;
}

// N covers all of S and is nearer throughout, with nothing of N beyond S's
// end: S's node takes N's words in place.
int n_replaces_s(Overlap* o) {
    SpanNode* prev = o->s->prev;
    SpanNode* next = o->s->next;
    *o->s = *o->n;
    o->s->prev = prev;
    o->s->next = next;
    return STEP_STOP;
}

// -- outcomes after which N's rest runs on past S's end -------------------

// N starts inside S, N left winner: S [sl, nl), N [nl, Q), S' [Q, sr), N from sr on.
int past_end_n_left_winner(Overlap* o) {
    o->s->x_right = o->nl;
    SpanNode* n = store_after(o, o->s, o->n, o->nl, o->q);
    if (!n) return STEP_STOP;
    SpanNode* right_s = store_after(o, n, o->s, o->q, o->sr);
    if (!right_s) return STEP_STOP;
    o->n->x_left = o->sr;
    return resume_after(o, right_s);
}

// S keeps [.., Q), N goes on from Q.
int s_left_n_runs_on(Overlap* o) {
    o->s->x_right = o->q;
    o->n->x_left = o->q;
    return resume_after(o, o->s);
}

// N starts inside S and is nearer: S ends where N begins.
int past_end_n_wins(Overlap* o) {
    o->s->x_right = o->nl;
    return resume_after(o, o->s);
}

// S is nearer over the overlap: N goes on from S's end.
int s_wins_n_runs_on(Overlap* o) {
    o->n->x_left = o->sr;
    return resume_after(o, o->s);
}

// N [nl, Q) in front of S, S [Q, sr), N goes on from sr.
int n_left_winner_covers(Overlap* o) {
    o->s->x_left = o->q;
    if (!store_before(o, o->s, o->n, o->nl, o->q)) return STEP_STOP;
    o->n->x_left = o->sr;
    return resume_after(o, o->s);
}

// N [nl, sl) in front of S, S [sl, Q), N goes on from Q.
int covers_s_left_winner(Overlap* o) {
    o->s->x_right = o->q;
    if (!store_before(o, o->s, o->n, o->nl, o->sl)) return STEP_STOP;
    o->n->x_left = o->q;
    return resume_after(o, o->s);
}

// N hides all of S: S becomes a spare; its successor takes its position.
// When S ends the chain it stays there as the first spare, where N's rest
// is then stored.
int remove_s(Overlap* o) {
    SpanNode* next = o->s->next;
    span_list_remove(o->list, o->s);
    o->resume = next ? next : o->list->first_spare;
    return STEP_CONTINUE;
}

// S is nearer and N sticks out on both sides: N [nl, sl) in front, N goes on from sr.
int covers_s_wins(Overlap* o) {
    if (!store_before(o, o->s, o->n, o->nl, o->sl)) return STEP_STOP;
    o->n->x_left = o->sr;
    return resume_after(o, o->s);
}

enum { REL_LESS = 0, REL_EQUAL = 1, REL_GREATER = 2 };
enum { N_LEFT_WINNER = 0, S_LEFT_WINNER = 1, N_WINS = 2, S_WINS = 3 };

// The steps by name: overlap_steps holds names, and run_step calls the
// step a name stands for.
enum StepName : uint8_t {
    N_LEFT_S_RIGHT, N_STARTS_LEFT_S_LEFT_WINNER, N_WINS_TRIM_S_LEFT, S_WINS_N_BEFORE,
    N_STARTS_LEFT_SAME_END_S_LEFT_WINNER, N_REPLACES_S, N_LEFT_WINNER_COVERS, COVERS_S_LEFT_WINNER, REMOVE_S,
    COVERS_S_WINS, SAME_START_S_LEFT_WINNER, DROP_N, S_LEFT_N_RIGHT, S_LEFT_N_RUNS_ON, S_WINS_N_RUNS_ON,
    INSIDE_N_LEFT_WINNER, INSIDE_S_LEFT_WINNER, INSIDE_N_WINS, SAME_END_N_LEFT_WINNER, SAME_END_N_WINS,
    PAST_END_N_LEFT_WINNER, PAST_END_N_WINS,
};

// [nl against sl][nr against sr][outcome]. Every cell gives each column of the
// overlap to its winner (split at Q when the crossing counts), keeps N's
// columns left of S as N's and S's columns outside the overlap as S's.
const StepName overlap_steps[3][3][4] = {
    {   // nl < sl
        {N_LEFT_S_RIGHT, N_STARTS_LEFT_S_LEFT_WINNER, N_WINS_TRIM_S_LEFT, S_WINS_N_BEFORE},  // nr < sr
        {N_LEFT_S_RIGHT, N_STARTS_LEFT_SAME_END_S_LEFT_WINNER, N_REPLACES_S, S_WINS_N_BEFORE},  // nr = sr
        {N_LEFT_WINNER_COVERS, COVERS_S_LEFT_WINNER, REMOVE_S, COVERS_S_WINS},  // nr > sr
    },
    {   // nl = sl
        {N_LEFT_S_RIGHT, SAME_START_S_LEFT_WINNER, N_WINS_TRIM_S_LEFT, DROP_N},
        {N_LEFT_S_RIGHT, S_LEFT_N_RIGHT, N_REPLACES_S, DROP_N},
        {N_LEFT_WINNER_COVERS, S_LEFT_N_RUNS_ON, REMOVE_S, S_WINS_N_RUNS_ON},
    },
    {   // nl > sl
        {INSIDE_N_LEFT_WINNER, INSIDE_S_LEFT_WINNER, INSIDE_N_WINS, DROP_N},
        {SAME_END_N_LEFT_WINNER, S_LEFT_N_RIGHT, SAME_END_N_WINS, DROP_N},
        {PAST_END_N_LEFT_WINNER, S_LEFT_N_RUNS_ON, PAST_END_N_WINS, S_WINS_N_RUNS_ON},
    },
};
static_assert(sizeof overlap_steps / sizeof overlap_steps[0][0][0] == 36, "9 configurations x 4 outcomes");

// Runs the step `name` names (the switch has a case for every name, which
// the compiler checks). Direct calls rather than a table of function
// pointers: each step is inlined here and the overlap record can stay in
// registers, where a call through a pointer keeps it in memory; the page's
// insertions of short rows took a third longer that way.
inline int run_step(StepName name, Overlap* o) {
    switch (name) {
    case N_LEFT_S_RIGHT: return n_left_s_right(o);
    case N_STARTS_LEFT_S_LEFT_WINNER: return n_starts_left_s_left_winner(o);
    case N_WINS_TRIM_S_LEFT: return n_wins_trim_s_left(o);
    case S_WINS_N_BEFORE: return s_wins_n_before(o);
    case N_STARTS_LEFT_SAME_END_S_LEFT_WINNER: return n_starts_left_same_end_s_left_winner(o);
    case N_REPLACES_S: return n_replaces_s(o);
    case N_LEFT_WINNER_COVERS: return n_left_winner_covers(o);
    case COVERS_S_LEFT_WINNER: return covers_s_left_winner(o);
    case REMOVE_S: return remove_s(o);
    case COVERS_S_WINS: return covers_s_wins(o);
    case SAME_START_S_LEFT_WINNER: return same_start_s_left_winner(o);
    case DROP_N: return drop_n(o);
    case S_LEFT_N_RIGHT: return s_left_n_right(o);
    case S_LEFT_N_RUNS_ON: return s_left_n_runs_on(o);
    case S_WINS_N_RUNS_ON: return s_wins_n_runs_on(o);
    case INSIDE_N_LEFT_WINNER: return inside_n_left_winner(o);
    case INSIDE_S_LEFT_WINNER: return inside_s_left_winner(o);
    case INSIDE_N_WINS: return inside_n_wins(o);
    case SAME_END_N_LEFT_WINNER: return same_end_n_left_winner(o);
    case SAME_END_N_WINS: return same_end_n_wins(o);
    case PAST_END_N_LEFT_WINNER: return past_end_n_left_winner(o);
    case PAST_END_N_WINS: return past_end_n_wins(o);
    }
    return STEP_STOP;
}

int relation(int32_t a, int32_t b) { return a < b ? REL_LESS : a == b ? REL_EQUAL : REL_GREATER; }

// Q = trunc(x), x = fl(fl(a / b) + 0.5), a and b the two differences below.
// Q counts only when lo < Q < hi, which needs x >= lo + 1 for lo >= 0 (x > lo
// below) and x < hi. Rounding is monotone and the bounds are doubles, so
// a / b <= lo + 0.5 - 2^-20 (lo - 0.5 - 2^-20 for lo < 0) or a / b >= hi - 0.5
// keep x out of that range whatever the rounding. a / b against a bound t is
// the sign of a - t * b (flipped for b < 0); that product and difference are
// off by at most 3 * 2^-53 * (|a| + |t * b|), so a sign is trusted only
// beyond 2^-40 of that sum. NaN or infinite values fail every comparison and
// go to the division.
inline int ruled_out(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi) {
    if (hi - (int64_t)lo < 2) return 1;  // no integer strictly between lo and hi
    double a = (double)n->inv_z - (double)s->inv_z;
    double b = (double)s->d_inv_z - (double)n->d_inv_z;
    if (b == 0.0) return 1;  // equal gradients never cross
    double left = (double)lo + (lo >= 0 ? 0.5 : -0.5) - 0x1p-20;
    double right = (double)hi - 0.5;
    double left_b = left * b, right_b = right * b;
    double gl = a - left_b, gr = a - right_b;
    double ml = 0x1p-40 * (std::fabs(a) + std::fabs(left_b));
    double mr = 0x1p-40 * (std::fabs(a) + std::fabs(right_b));
    if (b > 0.0) return gl < -ml || gr > mr;
    return gl > ml || gr < -mr;
}

// Which of the new span n and the visible span s owns which part of their
// overlap [lo, hi); sets *q for a crossing. Both lines are evaluated in
// double precision; the existing span wins ties.
inline int decide_outcome(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi, int32_t* q) {
    int counts = 0;
    if (!ruled_out(n, s, lo, hi)) *q = crossing_column(n, s, lo, hi, &counts);
    if (counts) {
        // Far left of every screen column, the left winner's line is above.
        double wn = (double)n->inv_z - 4096.0 * (double)n->d_inv_z;
        double ws = (double)s->inv_z - 4096.0 * (double)s->d_inv_z;
        return wn > ws ? N_LEFT_WINNER : S_LEFT_WINNER;
    }
    // No crossing inside: the lines compare the same way across the whole
    // overlap, so one probe a little right of its middle decides it:
    // lo + ceil((hi - lo) / 2), as lo - trunc(-0.5 - 0.5 * (hi - lo)) for hi > lo.
    double probe = (double)((int64_t)lo + ((int64_t)hi - lo + 1) / 2);
    double wn = (double)n->inv_z + probe * (double)n->d_inv_z;
    double ws = (double)s->inv_z + probe * (double)s->d_inv_z;
    return wn > ws ? N_WINS : S_WINS;
}

}  // namespace

int32_t crossing_column(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi, int* counts) {
    *counts = 0;
    // Parallel lines never cross; -1 must not count even when the overlap
    // reaches left of the screen.
    if (n->d_inv_z == s->d_inv_z) return -1;
    double x = ((double)n->inv_z - (double)s->inv_z) / ((double)s->d_inv_z - (double)n->d_inv_z) + 0.5;
    // Nearly parallel lines cross far away (or not at all: NaN); only a value
    // inside the int32 range may be converted.
    if (!(x > -2147483649.0 && x < 2147483648.0)) return -1;
    int32_t q = (int32_t)x;  // toward zero: rounds half up for columns >= 0
    *counts = lo < q && q < hi;
    return q;
}

int crossing_ruled_out(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi) {
    return ruled_out(n, s, lo, hi);
}

namespace {

// A span that covers no column shows nothing; all it does is cut, at its
// column x, the spans later inserted across x that it is nearer than (1/z
// compared at x alone, existing span winning ties). Such spans at one column
// lie next to each other in the row, and a span across x is cut iff the
// nearest of them beats it, after which the nearest is still there: so one
// node per column does the work of them all. `at` (empty, at x) keeps
// whichever of the two is nearer at x; a NaN 1/z beats every span, as it
// does in decide_outcome.
int merge_empty(SpanNode* at, const SpanNode* record) {
    int32_t x = record->x_left;
    if (record->x_right != x || at->x_left != x || at->x_right != x) return 0;
    double w_new = (double)record->inv_z + (double)x * (double)record->d_inv_z;
    double w_old = (double)at->inv_z + (double)x * (double)at->d_inv_z;
    if (std::isnan(w_new) || w_new > w_old) {
        SpanNode* prev = at->prev;
        SpanNode* next = at->next;
        *at = *record;
        at->prev = prev;
        at->next = next;
    }
    return 1;
}

// Visible spans from which a row counts as deep for the hints (see insert_span).
const int32_t deep_row = 48;

// The hint entry of column x >= 0; columns right of the screen share the last.
inline int32_t hint_bucket(const ScanlineSpanList* list, int32_t x) {
    int32_t b = x >> SPAN_HINT_SHIFT;
    return b < list->hint_count ? b : list->hint_count - 1;
}

// Where the walk may begin: a visible node A with A.x_left < nl, found
// through the row's hints, or null for `first`. Starting at such a node is
// the same as walking from `first`: every visible span before A ends at or
// left of A.x_left, so the walk would only skip it. A hint that became a
// spare is passed over; one that was stored again elsewhere is still
// visible, and the row is sorted, so stepping back along prev finds the place.
inline __attribute__((always_inline)) SpanNode* walk_start(const ScanlineSpanList* list, int32_t nl) {
    if (!list->hints || list->hints_off || nl <= 0) return nullptr;
    // The row's last anchor (where the previous insertion, mostly the same
    // mesh's neighbouring face, began) or the hint of nl's columns,
    // whichever starts nearer left of nl.
    SpanNode* f = list->finger;
    if (f && f->x_left == SPAN_SPARE_MARK) f = nullptr;
    // A finger a little left of nl is as good as any hint: the hint's
    // cache line is not even read.
    if (f && f->x_left < nl && nl - f->x_left <= 2 << SPAN_HINT_SHIFT) return f;
    SpanNode* a = list->hints[hint_bucket(list, nl)];
    if (a && a->x_left == SPAN_SPARE_MARK) a = nullptr;
    if (!f) {
        f = a;
    } else if (a) {
        // Left of nl the one further right; otherwise the one to step back from less.
        int32_t fl = f->x_left, al = a->x_left;
        if (fl < nl ? al < nl && al > fl : al < fl) f = a;
    }
    while (f && f->x_left >= nl) f = f->prev;
    return f;
}

// Records `anchor`, a visible node that no edit of this insertion touched
// and that starts left of column nl (or at it), as the hint for nl's columns.
void set_hint(ScanlineSpanList* list, int32_t nl, SpanNode* anchor) {
    if (!list->hints || !anchor || nl < 0) return;
    int32_t b = hint_bucket(list, nl);
    list->hints[b] = anchor;
    if (b < list->hint_low) list->hint_low = b;
    if (b > list->hint_high) list->hint_high = b;
}

// -- depth floors (see span_list_hides) -------------------------------------

inline double line_at(const SpanNode* s, int32_t x) { return (double)s->inv_z + (double)x * (double)s->d_inv_z; }

inline double line_margin(const SpanNode* s) {
    return span_line_margin(std::fabs((double)s->inv_z), (double)s->d_inv_z);
}

// Works out block b's floor from the visible spans that touch its closed
// range [lo, hi]: the lowest end of each, less its margin; -infinity when a
// column is uncovered or a span there is empty or reversed (those sit between
// pieces, where the argument of span_list_hides does not reach).
void floor_update(ScanlineSpanList* list, int32_t b) {
    int32_t lo = b << SPAN_FLOOR_SHIFT, hi = lo + (1 << SPAN_FLOOR_SHIFT);
    double floor = INFINITY;
    int32_t covered = lo;  // columns lo..covered-1 are covered
    SpanNode* s = walk_start(list, lo);  // spans before it end left of lo
    for (s = s ? s : list->first; s != list->first_spare && s->x_left <= hi; s = s->next) {
        int32_t sl = s->x_left, sr = s->x_right;
        if (sr < lo) continue;
        if (sr <= sl || sl > covered) {
            covered = lo;
            break;
        }
        if (sr > covered) covered = sr;
        double a = line_at(s, sl > lo ? sl : lo), c = line_at(s, sr < hi ? sr : hi);
        double v = (a < c ? a : c) - line_margin(s);
        if (v != v) {
            covered = lo;
            break;
        }
        if (v < floor) floor = v;
    }
    // Kept as a float no greater than the floor.
    float kept = (float)floor;
    if ((double)kept > floor) kept = std::nextafter(kept, -INFINITY);
    list->floors[b] = covered >= hi ? kept : NAN;
}

// After an insertion over [nl, nr]: a change there leaves the floors of the
// blocks whose closed ranges meet it unknown (spans elsewhere only shrink,
// which keeps a floor); after a walk that only dropped, their unknown floors
// are worked out.
void floors_note(ScanlineSpanList* list, int32_t nl, int32_t nr, int changed) {
    if (nr < 0) return;
    int32_t b = (nl > 0 ? nl - 1 : 0) >> SPAN_FLOOR_SHIFT, e = nr >> SPAN_FLOOR_SHIFT;
    if (e >= list->floor_count) e = list->floor_count - 1;
    for (; b <= e; b++) {
        if (changed)
            list->floors[b] = SPAN_FLOOR_LOOK;
        else if (list->floors[b] == SPAN_FLOOR_LOOK)
            floor_update(list, b);
    }
}

// A row keeps floors once its walks have mostly dropped their spans (its
// credit reaches 0): there they save whole walks; where spans mostly change
// the row they would only be thrown away. The credit sinks no lower than
// twice its start, so the drops behind a front drawn first soon win it
// back; rows without floors (SPAN_FLOORS_OFF) stay far below.
inline void floors_after(ScanlineSpanList* list, int32_t nl, int32_t nr, int changed) {
    int32_t credit = list->floor_credit;
    if (credit >= 0)
        floors_note(list, nl, nr, changed);
    else if (!changed)
        list->floor_credit = credit + 1;
    else if (credit > -2 * SPAN_FLOOR_CREDIT)
        list->floor_credit = credit - 2;
}

}  // namespace

// Walks the row's visible spans left to right. N's remaining range never
// overlaps a visible span left of the current one: every step either ends the
// walk or moves N's left end to at least the end of what S still owns. A
// store that finds the pool exhausted ends the walk at once; what was done
// before stays.
void insert_span(SpanNode* record, ScanlineSpanList* list) {
    if (list->active_count <= 0) {
        span_list_append(list, record);
        floors_after(list, record->x_left, record->x_right, 1);
        return;
    }
    // A reversed span (x_left > x_right) covers no column; made empty at its
    // left end, it keeps the row sorted and cannot push pieces out of order.
    if (record->x_right < record->x_left) record->x_right = record->x_left;
    // A store takes the chain's last node, which has lain unused since it
    // last became a spare: start fetching it while the walk runs. A span
    // that covers no column is mostly dropped or merged, storing nothing.
    if (record->x_right > record->x_left) span_prefetch_pair(list->last);

    Overlap o;
    o.list = list;
    o.n = record;
    o.q = 0;  // set by decide_outcome wherever a step reads it
    const int32_t start_left = record->x_left;
    SpanNode* start = walk_start(list, start_left);
    SpanNode* anchor = start ? start->prev : nullptr;  // last node known untouched
    int done = 0, skipped = 0, changed = 0;
    // The walk's position and N's ends live in locals while spans are
    // skipped; the step record gets them only for an overlap, and they are
    // read back after each step (only steps edit N or the row).
    SpanNode* s = start ? start : list->first;
    SpanNode* end = list->first_spare;
    // Taking that node also unlinks it from the node before it: fetch that
    // one too, now that the last node's own words have had time to arrive.
    if (end && record->x_right > record->x_left) span_prefetch(list->last->prev);
    int32_t nl = record->x_left, nr = record->x_right;
    const int32_t start_right = nr;
    // Only a row's first span can be reversed (stored as it came into an
    // empty row), and the walk meets it only as its first node.
    if (s != end && s->x_right < s->x_left) s->x_right = s->x_left, changed = 1;
    while (s != end) {
        int32_t sl = s->x_left, sr = s->x_right;
        if (sl >= nr) {
            if (!merge_empty(s, record)) span_list_insert_before(list, s, record);
            done = changed = 1;
            break;
        }
        if (nl >= sr) {
            anchor = s;
            s = s->next;
            skipped++;
            continue;
        }
        int32_t lo = nl > sl ? nl : sl;
        int32_t hi = nr < sr ? nr : sr;
        int outcome = decide_outcome(record, s, lo, hi, &o.q);
        // The commonest steps that leave the row alone, without the step
        // record: S nearer over an overlap that N starts inside (or with).
        // N is dropped when it ends inside S (drop_n), otherwise goes on
        // from S's end (s_wins_n_runs_on).
        if (outcome == S_WINS && nl >= sl) {
            if (nr <= sr) {
                done = 1;
                break;
            }
            record->x_left = nl = sr;
            s = s->next;
            continue;
        }
        o.s = s;
        o.nl = nl;
        o.nr = nr;
        o.sl = sl;
        o.sr = sr;
        const StepName step = overlap_steps[relation(nl, sl)][relation(nr, sr)][outcome];
        // Every step but drop_n and s_wins_n_runs_on, taken above, edits the row.
        changed = 1;
        if (run_step(step, &o) == STEP_STOP) {
            done = 1;
            break;
        }
        s = o.resume;
        end = list->first_spare;
        nl = record->x_left;
        nr = record->x_right;
    }
    // At the end of the visible part s is the chain's first spare (or null).
    // A span that covers no column may end up behind one at its own column.
    if (!done) {
        if (!(anchor && merge_empty(anchor, record))) span_list_append_at(list, s, record);
        changed = 1;
    }

    // After a failed store the row may overlap; it walks from `first` until
    // the next reset.
    if (list->pool->status != 0) {
        list->hints_off = 1;
        span_list_floors_off(list);
    }
    // The finger follows every insertion. A hint is written after a long
    // walk, and in a deep row after any walk that passed a span: there
    // (a visible span every few columns) hints written only after long
    // walks left most walks passing a span or two, while in shallower rows
    // the extra writes cost more than they save.
    list->finger = anchor;
    if (skipped >= 4 || (skipped && list->active_count >= deep_row)) set_hint(list, start_left, anchor);
    floors_after(list, start_left, start_right, changed);
}
