# TODO: handle unicode
#   continued here
x = 1  # TODO: not a todo
