// TODO: retry on 502
// later lines
int x = 1;
