#include <malloc.h>

#include "app/gui/CQopraApp.h"

int main(int argc, char** argv) {
    // Device messages are held in buffers of up to 10 MiB. With a fixed threshold they always live in
    // their own mappings and go back to the system when freed; the allocator's moving threshold would
    // keep them in the heap after the first one, and the server would hold the worst moment's memory.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    CQopraApp application;
    return application.Run(argc, argv);
}
