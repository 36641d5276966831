  *  TODO: star line */
/* TODO: closes */ code
