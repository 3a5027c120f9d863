"""A signalling game (beer or quiche): Nature draws the sender's type, weak (1/10) or strong
(9/10); the sender, knowing it, has beer or quiche for breakfast; the receiver sees the
breakfast but not the type, and duels or not. The receiver's two information sets (after beer,
after quiche) interleave on one level. The sender gets 1 for the breakfast its type prefers
(quiche when weak, beer when strong) and 2 if there is no duel; the receiver gets 1 for dueling
a weak sender or leaving a strong one alone. Payoffs are (sender, receiver).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to signalling.tex and its
drawing to signalling.svg in the directory given as the first argument (the current directory by
default).
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Beer or quiche", players=2, gametype=Type.Extensive)
nature, sender, receiver = game.player[0], game.player[1], game.player[2]
sender.name, receiver.name = "Sender", "Receiver"

AFTER = {"beer": 1, "quiche": 2}  # the receiver's information set after each breakfast

for kind, liked, chance in (("weak", "quiche", "1/10"), ("strong", "beer", "9/10")):
    type_node = Decision(nature, kind)
    type_node.probability = chance  # Nature moves here: drawn hollow, with the probabilities
    for breakfast, info in AFTER.items():
        taste = 1 if breakfast == liked else 0
        meets = 1 if kind == "weak" else 0  # what dueling pays the receiver
        type_node.add_node(Decision(sender, breakfast, information_set=info).add_nodes(
            Decision(receiver, "duel", utility=[taste, meets]),
            Decision(receiver, "don't", utility=[taste + 2, 1 - meets])))
    game = game + type_node

if __name__ == "__main__":
    draw(game, __file__)
