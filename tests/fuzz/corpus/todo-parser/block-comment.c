/*
 * TODO: check the retry count
 * it may be zero
 */
int y;
/* TODO: one line block */
