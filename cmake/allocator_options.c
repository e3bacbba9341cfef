/* The allocator's options, built into every program that links it.
 *
 * One arena for all threads. The allocator's default of several arenas per core suits servers
 * whose threads each allocate and free their own; here the work of one task moves between
 * threads (a list is read on one queue, written into objects on another and saved on the main
 * thread), and memory one thread frees should serve the next rather than stay with an arena no
 * other thread uses. Each thread's own cache still takes most small allocations without a lock.
 *
 * Objects of up to 2 KiB are carved from single pages. A list's parse frees its reply's records
 * while it makes the store's objects, which come in other sizes: a freed page serves any size at
 * once, where the runs of several pages that small sizes are otherwise carved from are rarely
 * freed whole, and stay resident beside new ones. */
const char* malloc_conf = "narenas:1,slab_sizes:1-2048:1";
