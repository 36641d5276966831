#define X 1 // TODO: continue \
  next line
/* TODO: x */ int y; /* z */
